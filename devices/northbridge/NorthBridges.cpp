#include "devices/northbridge/NorthBridges.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "devices/Rounding.h"
#include "devices/SystemFacts.h"
#include "devices/clockgen/I2cClockGenIo.h"

namespace rq::devices {
namespace {

constexpr std::uint8_t kVendorIdRegister = 0x00;
constexpr std::uint8_t kDeviceIdRegister = 0x02;
constexpr std::uint8_t kRevisionRegister = 0x08;
// Capability bytes of the Intel hubs that share a device ID across market variants.
constexpr std::uint8_t kCapabilityByteE7 = 0xE7;
constexpr std::uint8_t kCapabilityByteE8 = 0xE8;

constexpr std::uint16_t kIntel = 0x8086;
constexpr std::uint16_t kVia = 0x1106;
constexpr std::uint16_t kNvidia = 0x10DE;
constexpr std::uint16_t kSis = 0x1039;

constexpr ConfigByteTest Equals(std::uint8_t offset, std::uint8_t value) {
  return {offset, 0xFF, value, value};
}

constexpr MchIdentity kIntel845E{"Intel 845E MCH",
                                 "Intel 845E Memory Controller Hub for DDR",
                                 false,
                                 kIntel,
                                 {0x1A30},
                                 1,
                                 {Equals(kRevisionRegister, 0x11)},
                                 1};
constexpr MchIdentity kIntel845{"Intel 845 MCH",
                                "Intel 845 Memory Controller Hub for DDR",
                                false,
                                kIntel,
                                {0x1A30},
                                1,
                                {ConfigByteTest{kRevisionRegister, 0xFF, 0x00, 0x04}},
                                1};

// The 845G family and the 865 family tell their members apart by 0xE7/0xE8.
constexpr MchIdentity Intel2560(const char* model, const char* description, ConfigByteTest first,
                                ConfigByteTest second) {
  return {model, description, false, kIntel, {0x2560}, 1, {first, second}, 2};
}
constexpr MchIdentity kIntel845G =
    Intel2560("Intel 845G MCH", "Intel 845G Memory Controller Hub for DDR", Equals(kRevisionRegister, 0x01),
              ConfigByteTest{kCapabilityByteE7, 0x10, 0x00, 0x00});
constexpr MchIdentity kIntel845GL =
    Intel2560("Intel 845GL MCH", "Intel 845GL Memory Controller Hub for DDR", Equals(kCapabilityByteE7, 0x11),
              Equals(kCapabilityByteE8, 0x0E));
constexpr MchIdentity kIntel845GE =
    Intel2560("Intel 845GE MCH", "Intel 845GE Memory Controller Hub for DDR", Equals(kCapabilityByteE7, 0x41),
              Equals(kCapabilityByteE8, 0x21));
constexpr MchIdentity kIntel845GV =
    Intel2560("Intel 845GV MCH", "Intel 845GV Memory Controller Hub for DDR", Equals(kCapabilityByteE7, 0x11),
              Equals(kCapabilityByteE8, 0x0B));
constexpr MchIdentity kIntel845PE =
    Intel2560("Intel 845PE MCH", "Intel 845PE Memory Controller Hub for DDR", Equals(kCapabilityByteE7, 0x61),
              Equals(kCapabilityByteE8, 0x21));

constexpr MchIdentity Intel2570(const char* model, const char* description, std::uint8_t e7) {
  return {model,
          description,
          false,
          kIntel,
          {0x2570},
          1,
          {Equals(kCapabilityByteE7, e7), Equals(kCapabilityByteE8, 0)},
          2};
}
constexpr MchIdentity kIntel865SDG =
    Intel2570("Intel 865SDG MCH", "Intel 865SDG Memory Controller Hub for DDR", 0x01);
constexpr MchIdentity kIntel865SDPE =
    Intel2570("Intel 865PE MCH", "Intel 865PE Memory Controller Hub for DDR", 0x21);
constexpr MchIdentity kIntel865SDP =
    Intel2570("Intel 865P MCH", "Intel 865P Memory Controller Hub for DDR", 0xA1);
constexpr MchIdentity kIntel875P{
    "Intel 875P MCH", "Intel 875P Memory Controller Hub for DDR", false, kIntel, {0x2578}, 1, {}, 0};

constexpr MchIdentity kViaKT{"VIA KT266(A)/333/400/600",
                             "VIA KT266(A)/KT333/KT400/KT600 North Bridge",
                             true,
                             kVia,
                             {0x3099, 0x3189},
                             2,
                             {},
                             0};
constexpr MchIdentity kViaP4X266E{"VIA P4X266E",
                                  "VIA VT8753E North Bridge for DDR",
                                  false,
                                  kVia,
                                  {0x3128},
                                  1,
                                  {Equals(kRevisionRegister, 0x01)},
                                  1};
constexpr MchIdentity kViaP4M266{
    "VIA P4M266(A)", "VIA VT8751(A) P4 DDR SMA North Bridge", false, kVia, {0x3148}, 1, {}, 0};
constexpr MchIdentity kViaKM266{
    "VIA KM266", "VIA VT8375 North Bridge for DDR", true, kVia, {0x3116}, 1, {}, 0};
constexpr MchIdentity kViaP4X400{
    "VIA P4X400", "VIA VT8754 North Bridge for DDR", false, kVia, {0x3168}, 1, {}, 0};
constexpr MchIdentity kViaKM400{
    "VIA KM400", "VIA VT8378 North Bridge for DDR", true, kVia, {0x3205}, 1, {}, 0};

constexpr MchIdentity kNvidiaC18{
    "nVidia Crush 17/18", "nVidia Crush 17/18 Memory Controller Hub", true, kNvidia, {0x01E0}, 1, {}, 0};

constexpr MchIdentity Sis(const char* model, const char* description, bool k7, std::uint16_t device) {
  return {model, description, k7, kSis, {device}, 1, {}, 0};
}
constexpr MchIdentity kSis650 = Sis("SiS 650", "SiS 650 Memory Controller Hub", false, 0x0650);
constexpr MchIdentity kSis651 = Sis("SiS 651", "SiS 651 Memory Controller Hub", false, 0x0651);
constexpr MchIdentity kSis740 = Sis("SiS 740", "SiS 740 Memory Controller Hub", true, 0x0740);
constexpr MchIdentity kSis648 = Sis("SiS 648", "SiS 648 Memory Controller Hub", false, 0x0648);

long double Scaled(long double fsb, MemoryRatio ratio) { return fsb * ratio.numerator / ratio.denominator; }

// ---- Intel ratio word ----

constexpr std::uint8_t kIntelRatioRegister = 0xC6;
constexpr std::uint16_t kIntelNumerator133 = 0x0800;    // 845: bit 11
constexpr std::uint16_t kIntelDenominator133 = 0x1000;  // 845 and 845G family: bit 12
constexpr unsigned kIntelNumeratorShift = 10;           // 845G and 865 families: bits 11:10
constexpr std::uint16_t kIntelSelectMask = 0x0003;      // 865 family: bits 1:0

MemoryRatio Intel845Ratio(std::uint16_t word) {
  return {static_cast<std::uint16_t>((word & kIntelNumerator133) != 0 ? 133 : 100),
          static_cast<std::uint16_t>((word & kIntelDenominator133) != 0 ? 133 : 100)};
}

unsigned IntelNumeratorBits(std::uint16_t word) { return (word >> kIntelNumeratorShift) & 0x3; }

// ---- VIA ratio index ----

constexpr std::uint8_t kViaDramClockRegister = 0x69;  // bits 7:6: A; bit 6 alone on the 266 generation
constexpr std::uint8_t kViaHostClockRegister = 0x54;  // bits 7:6: B; bit 7 alone on the P4M266
constexpr std::uint8_t kViaRatioBitRegister = 0x67;   // bit 7: R
constexpr std::uint8_t kViaRatioBit = 0x80;
constexpr std::uint8_t kVia266Ratio133Bit = 0x40;
constexpr std::uint8_t kViaP4M266SynchronousBit = 0x80;

constexpr MemoryRatio k1{1, 1};

constexpr ViaRatioIndexIo::RatioTable kViaKTRatios{
    k1,         {133, 100}, {200, 100}, {166, 100}, k1,         {166, 133}, {200, 133}, {200, 133},
    {200, 200}, k1,         {133, 200}, k1,         {166, 166}, {200, 166}, k1,         k1};
// Bit 7 of 0x67 changes indices 8 and 12 only.
constexpr ViaRatioIndexIo::RatioTable kViaKTRatiosBitSet{
    k1,         {133, 100}, {200, 100}, {166, 100}, k1,         {166, 133}, {200, 133}, {200, 133},
    {166, 200}, k1,         {133, 200}, k1,         {133, 166}, {200, 166}, k1,         k1};
constexpr ViaRatioIndexIo::RatioTable kViaP4X400Ratios{
    k1, {133, 100}, {200, 100}, {166, 100}, k1, {166, 133}, {200, 133}, k1, k1, k1, k1, k1, k1, k1, k1, k1};
// The KM400 knows the P4X400's settings and a 133/166 at indices 11 and 15.
constexpr ViaRatioIndexIo::RatioTable kViaKM400Ratios{
    k1, {133, 100}, {200, 100}, {166, 100}, k1, {166, 133}, {200, 133}, k1,
    k1, k1,         k1,         {133, 166}, k1, k1,         k1,         {133, 166}};

// ---- Intel 865 family ----

// Numerator by bits 11:10 when bits 1:0 select the 200 denominator.
constexpr std::array<std::uint16_t, 4> k865SDGNumeratorsFor200{133, 166, 200, 133};
constexpr std::array<std::uint16_t, 4> k865NumeratorsFor200{166, 166, 200, 166};

// ---- nVidia ----

constexpr std::uint8_t kNvidiaMemoryFunction = 3;
constexpr std::uint8_t kNvidiaRatioRegister = 0x70;
constexpr std::uint16_t kNvidiaNumeratorMask = 0x00F0;
constexpr unsigned kNvidiaNumeratorShift = 4;
constexpr std::uint16_t kNvidiaDenominatorMask = 0x000F;

// ---- SiS 648 ----

constexpr std::uint8_t kSis648RatioRegister = 0x76;
constexpr std::uint8_t kSis648SynchronousBit = 0x20;
constexpr std::uint8_t kSis648RatioMask = 0x3C;

// v = f × multiplier × scale / divisor, in the terms each setting is written in.
struct Sis648Ratio {
  unsigned multiplier;
  long double scale;
  unsigned divisor;
};
constexpr Sis648Ratio kSis648Same{1, 1.0L, 1};
// Indexed by (S & 0x3C) >> 2.
constexpr std::array<Sis648Ratio, 16> kSis648Ratios{kSis648Same,
                                                    Sis648Ratio{2, 1.0L, 1},
                                                    Sis648Ratio{3, 0.5L, 1},
                                                    Sis648Ratio{9, 0.1L, 1},
                                                    Sis648Ratio{4, 1.0L, 3},
                                                    Sis648Ratio{5, 1.0L, 3},
                                                    Sis648Ratio{5, 0.25L, 1},
                                                    Sis648Ratio{6, 0.2L, 1},
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same,
                                                    kSis648Same};

}  // namespace

// ---- Identity ----

IdentifiedMchIo::IdentifiedMchIo(const MchIdentity& identity)
    : PciMchIo(identity.model, identity.description, identity.k7Platform), identity_(identity) {}

bool IdentifiedMchIo::Detect() {
  if (ReadHostWord(kVendorIdRegister) != identity_.vendor) return false;
  const std::uint16_t device = ReadHostWord(kDeviceIdRegister);
  const auto devices = std::span(identity_.devices).first(identity_.deviceCount);
  if (std::find(devices.begin(), devices.end(), device) == devices.end()) return false;
  for (const ConfigByteTest& test : std::span(identity_.tests).first(identity_.testCount)) {
    const std::uint8_t value = ReadHostByte(test.offset) & test.mask;
    if (value < test.low || value > test.high) return false;
  }
  return true;
}

double IdentifiedMchIo::GetMemoryClock(double fsb) { return RoundToDouble(MemoryClock(fsb), 1); }

// ---- Intel 845 ----

Intel845MchIo::Intel845MchIo() : IdentifiedMchIo(kIntel845) {}

long double Intel845MchIo::MemoryClock(long double fsb) {
  return Scaled(fsb, Intel845Ratio(ReadHostWord(kIntelRatioRegister)));
}

Intel845EMchIo::Intel845EMchIo() : IdentifiedMchIo(kIntel845E) {}

long double Intel845EMchIo::MemoryClock(long double fsb) {
  constexpr long double kLimit = 149;
  long double clock = std::trunc(Scaled(fsb, Intel845Ratio(ReadHostWord(kIntelRatioRegister))));
  if (clock >= kLimit) clock = std::trunc(fsb * 166 * 0.005L);
  return clock;
}

long double Intel845GFamilyMchIo::MemoryClock(long double fsb) {
  const std::uint16_t word = ReadHostWord(kIntelRatioRegister);
  constexpr std::array<std::uint16_t, 4> kNumerators{100, 166, 133, 100};
  const MemoryRatio ratio{kNumerators[IntelNumeratorBits(word)],
                          static_cast<std::uint16_t>((word & kIntelDenominator133) != 0 ? 133 : 100)};
  return Scaled(fsb, ratio);
}

Intel845GMchIo::Intel845GMchIo() : Intel845GFamilyMchIo(kIntel845G) {}
Intel845GLMchIo::Intel845GLMchIo() : Intel845GFamilyMchIo(kIntel845GL) {}
Intel845GEMchIo::Intel845GEMchIo() : Intel845GFamilyMchIo(kIntel845GE) {}
Intel845GVMchIo::Intel845GVMchIo() : Intel845GFamilyMchIo(kIntel845GV) {}
Intel845PEMchIo::Intel845PEMchIo() : Intel845GFamilyMchIo(kIntel845PE) {}

// ---- Intel 865 ----

Intel865FamilyMchIo::Intel865FamilyMchIo(const MchIdentity& identity,
                                         const std::array<std::uint16_t, 4>& numeratorsFor200)
    : IdentifiedMchIo(identity), numeratorsFor200_(numeratorsFor200) {}

long double Intel865FamilyMchIo::MemoryClock(long double fsb) {
  const std::uint16_t word = ReadHostWord(kIntelRatioRegister);
  const unsigned numeratorBits = IntelNumeratorBits(word);
  MemoryRatio ratio{133, 100};
  switch (word & kIntelSelectMask) {
    case 0b01:
      ratio = {static_cast<std::uint16_t>(numeratorBits != 0 ? 166 : 133), 133};
      break;
    case 0b10:
      ratio = {numeratorsFor200_[numeratorBits], 200};
      break;
    default:
      break;
  }
  return Scaled(fsb, ratio);
}

Intel865SDGMchIo::Intel865SDGMchIo() : Intel865FamilyMchIo(kIntel865SDG, k865SDGNumeratorsFor200) {}
Intel865SDPEMchIo::Intel865SDPEMchIo() : Intel865FamilyMchIo(kIntel865SDPE, k865NumeratorsFor200) {}
Intel865SDPMchIo::Intel865SDPMchIo() : Intel865FamilyMchIo(kIntel865SDP, k865NumeratorsFor200) {}
Intel875PMchIo::Intel875PMchIo() : Intel865FamilyMchIo(kIntel875P, k865NumeratorsFor200) {}

// ---- VIA ----

ViaRatioIndexIo::ViaRatioIndexIo(const MchIdentity& identity, const RatioTable& table,
                                 const RatioTable* whenBitSet)
    : IdentifiedMchIo(identity), table_(table), whenBitSet_(whenBitSet) {}

long double ViaRatioIndexIo::MemoryClock(long double fsb) {
  const unsigned a = ReadHostByte(kViaDramClockRegister) >> 6;
  const unsigned b = ReadHostByte(kViaHostClockRegister) >> 6;
  const unsigned index = b * 4 + a;
  const RatioTable* table = &table_;
  if (whenBitSet_ != nullptr && (ReadHostByte(kViaRatioBitRegister) & kViaRatioBit) != 0) table = whenBitSet_;
  return Scaled(fsb, (*table)[index]);
}

VIAKT600_333_400_266Io::VIAKT600_333_400_266Io()
    : ViaRatioIndexIo(kViaKT, kViaKTRatios, &kViaKTRatiosBitSet) {}
VIAP4X400EIo::VIAP4X400EIo() : ViaRatioIndexIo(kViaP4X400, kViaP4X400Ratios, nullptr) {}
VIAKM400Io::VIAKM400Io() : ViaRatioIndexIo(kViaKM400, kViaKM400Ratios, nullptr) {}

long double Via266MchIo::MemoryClock(long double fsb) {
  if ((ReadHostByte(kViaDramClockRegister) & kVia266Ratio133Bit) != 0) return fsb * 133 * 0.01L;
  return fsb;
}

VIAP4X266EIo::VIAP4X266EIo() : Via266MchIo(kViaP4X266E) {}
VIAKM266Io::VIAKM266Io() : Via266MchIo(kViaKM266) {}
VIAP4M266Io::VIAP4M266Io() : Via266MchIo(kViaP4M266) {}

long double VIAP4M266Io::MemoryClock(long double fsb) {
  if ((ReadHostByte(kViaHostClockRegister) & kViaP4M266SynchronousBit) != 0) return fsb;
  return Via266MchIo::MemoryClock(fsb);
}

// ---- nVidia ----

nVidiaC18Io::nVidiaC18Io() : IdentifiedMchIo(kNvidiaC18) {}

long double nVidiaC18Io::MemoryClock(long double fsb) {
  const std::uint16_t word = ReadPciConfigWord(0, 0, kNvidiaMemoryFunction, kNvidiaRatioRegister);
  const unsigned numerator = (word & kNvidiaNumeratorMask) >> kNvidiaNumeratorShift;
  const unsigned denominator = word & kNvidiaDenominatorMask;
  if (numerator == 0 || denominator == 0) return fsb;
  return fsb * numerator / denominator;
}

// ---- SiS ----

long double SisSynchronousIo::MemoryClock(long double fsb) { return fsb; }

Sis650Io::Sis650Io() : SisSynchronousIo(kSis650) {}
Sis740Io::Sis740Io() : SisSynchronousIo(kSis740) {}

Sis651Io::Sis651Io() : IdentifiedMchIo(kSis651) {}

long double Sis651Io::MemoryClock(long double fsb) {
  I2cClockGenIo* clockGenerator = CurrentSystem().clockGenerator;
  if (clockGenerator == nullptr) return fsb;
  const long double nominal = clockGenerator->GetDefaultFsb();
  if (!(nominal > 0) || !std::isfinite(nominal)) return fsb;
  return fsb * clockGenerator->GetMemRefClock() / nominal;
}

Sis648Io::Sis648Io() : IdentifiedMchIo(kSis648) {}

long double Sis648Io::MemoryClock(long double fsb) {
  const std::uint8_t setting = ReadHostByte(kSis648RatioRegister);
  if ((setting & kSis648SynchronousBit) != 0) return fsb;
  const Sis648Ratio& ratio = kSis648Ratios[(setting & kSis648RatioMask) >> 2];
  return fsb * ratio.multiplier * ratio.scale / ratio.divisor;
}

// ---- Detection order ----

const CandidateList<PciMchIo>& NorthBridgeCandidates() {
  static const CandidateList<PciMchIo> candidates{
      Make<Intel845EMchIo>,    Make<Intel845MchIo>,    Make<Intel845GMchIo>,  Make<Intel845GLMchIo>,
      Make<Intel845GEMchIo>,   Make<Intel845GVMchIo>,  Make<Intel845PEMchIo>, Make<Intel865SDGMchIo>,
      Make<Intel865SDPEMchIo>, Make<Intel865SDPMchIo>, Make<Intel875PMchIo>,  Make<VIAKT600_333_400_266Io>,
      Make<VIAP4X266EIo>,      Make<VIAP4M266Io>,      Make<VIAKM266Io>,      Make<VIAP4X400EIo>,
      Make<VIAKM400Io>,        Make<nVidiaC18Io>,      Make<Sis650Io>,        Make<Sis651Io>,
      Make<Sis740Io>,          Make<Sis648Io>};
  return candidates;
}

}  // namespace rq::devices
