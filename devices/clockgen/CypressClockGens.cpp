#include "devices/clockgen/CypressClockGens.h"

#include <algorithm>
#include <cmath>

#include "devices/Rounding.h"
#include "devices/clockgen/ClockGenTables.h"

namespace rq::devices {

using clockgen::BandTable;
using clockgen::BusSequence;
using clockgen::K7Rule;
using clockgen::PassesGate;
using clockgen::PlatformGate;

namespace {

constexpr std::uint8_t kByteCommand = 0x80;
constexpr std::uint8_t kRegWatchdogEnable = 9;
constexpr std::int32_t kWatchdogOnBits = 0x16;

double Mhz(double value) { return RoundTo(value, 1); }

}  // namespace

// ---- shared ----------------------------------------------------------------

CypressClockGenIo::CypressClockGenIo(ClockGenBus bus, const char* model)
    : I2cClockGenIo(std::move(bus), model, "CYPRESS Programmable Timing ControlHub") {}

std::int32_t CypressClockGenIo::ReadRegister(std::uint8_t reg) {
  std::uint32_t value = 0;
  if (Bus() == nullptr || !Bus()->ReadByte(&value, kByteCommand | reg)) return 0;
  return static_cast<std::int32_t>(value & 0xFF);
}

void CypressClockGenIo::WriteRegister(std::uint8_t reg, std::int32_t value) {
  if (Bus() != nullptr) Bus()->WriteByte(static_cast<std::uint8_t>(value), kByteCommand | reg);
}

std::int32_t CypressClockGenIo::ReadRegisterSequence(std::uint8_t reg) {
  BusSequence sequence(true);
  return ReadRegister(reg);
}

void CypressClockGenIo::WriteRegisterSequence(std::uint8_t reg, std::int32_t value) {
  BusSequence sequence(true);
  WriteRegister(reg, value);
}

bool CypressClockGenIo::Identify(std::uint8_t reg, std::int32_t id) {
  return Bus() != nullptr && ReadRegisterSequence(reg) == id;
}

double CypressClockGenIo::Divided(double fsb, unsigned divider) {
  return divider == 0 ? 0.0 : Mhz(fsb * GetCpuDivider() / divider);
}

// ---- byte-mode parts -------------------------------------------------------

namespace {

constexpr std::uint8_t kRegPllN = 13;
constexpr std::uint8_t kRegPllM = 14;  // bit 7: programmed mode
constexpr std::int32_t kProgrammedMode = 0x80;
constexpr double kInverseReference = 0.020830117683915877;  // 1 / 48.00741
constexpr unsigned kFastM = 45;
constexpr unsigned kFineM = 93;

// Watchdog field: bits 1-5 count, bit 0 unit (set: 2.5 s, clear: 150 ms).
constexpr std::int32_t kWatchdogCountMask = 0x3E;
constexpr std::int32_t kWatchdogLongUnit = 0x01;
constexpr std::int32_t kWatchdogHighBits = 0xC0;
constexpr int kWatchdogCountMax = 31;

const BandTable kW312Agp{{clockgen::AtMost(66.6, 2), clockgen::Below(120, 3), clockgen::From(120, 166.6, 4),
                          clockgen::From(166.6, 200, 5)},
                         6};
const BandTable kW312Pci{{clockgen::AtMost(66.6, 4), clockgen::Below(120, 6), clockgen::From(120, 166.6, 8),
                          clockgen::From(166.6, 200, 10)},
                         12};
const BandTable kCy28323Agp{{clockgen::AtMost(66.6, 2), clockgen::Below(126, 3),
                             clockgen::From(126, 166.6, 4), clockgen::From(166.6, 200, 5)},
                            6};
const BandTable kCy28323Pci{{clockgen::AtMost(66.6, 4), clockgen::Below(126, 6),
                             clockgen::From(126, 166.6, 8), clockgen::From(166.6, 200, 10)},
                            12};
const BandTable kCy28325Agp{
    {clockgen::AtMost(66.6, 4), clockgen::Below(126, 6), clockgen::From(126, 133.3, 7),
     clockgen::From(133.3, 166.6, 8), clockgen::From(166.6, 200, 10)},
    12};
const BandTable kCy28325Pci{
    {clockgen::AtMost(66.6, 8), clockgen::Below(126, 12), clockgen::From(126, 133.3, 14),
     clockgen::From(133.3, 166.6, 16), clockgen::From(166.6, 200, 20)},
    24};
// The bus class a frequency-select entry or a programmed clock belongs to.
const BandTable kByteModeClass{{clockgen::Below(130, 100), clockgen::From(130, 163, 133)}, 167};

const CypressByteModeClockGenIo::Traits kW312{"W312-02", 8,
                                              0x08,      {K7Rule::kRequired, clockgen::kViaHosts},
                                              2,         &kW312Agp,
                                              &kW312Pci, 4,
                                              5,         &clockgen::kCypW312Table};
const CypressByteModeClockGenIo::Traits kCy28323{"CY28323",
                                                 6,
                                                 0x08,
                                                 {K7Rule::kExcluded, clockgen::kIntelHosts},
                                                 2,
                                                 &kCy28323Agp,
                                                 &kCy28323Pci,
                                                 8,
                                                 5,
                                                 &clockgen::kCypCy28323Table};
const CypressByteModeClockGenIo::Traits kCy28325{"CY28325",
                                                 8,
                                                 0x08,
                                                 {K7Rule::kExcluded, clockgen::kViaHosts},
                                                 4,
                                                 &kCy28325Agp,
                                                 &kCy28325Pci,
                                                 4,
                                                 15,
                                                 &clockgen::kCypCy28325Table};
const BandTable kCy28349Fixed{{}, 0};
const CypressByteModeClockGenIo::Traits kCy28349{"CY28349",
                                                 6,
                                                 0x08,
                                                 {K7Rule::kExcluded, clockgen::kIntelHosts},
                                                 2,
                                                 &kCy28349Fixed,
                                                 &kCy28349Fixed,
                                                 8,
                                                 0,
                                                 &clockgen::kCypCy28349Table};

}  // namespace

CypressByteModeClockGenIo::CypressByteModeClockGenIo(ClockGenBus bus, const Traits& traits)
    : CypressClockGenIo(std::move(bus), traits.model), traits_(traits) {}

unsigned CypressByteModeClockGenIo::GetCpuDivider() { return traits_.cpuDivider; }
unsigned CypressByteModeClockGenIo::GetAgpDivider() {
  return static_cast<unsigned>(traits_.agpDividers->Pick(GetFsb()));
}
unsigned CypressByteModeClockGenIo::GetPciDivider() {
  return static_cast<unsigned>(traits_.pciDividers->Pick(GetFsb()));
}
unsigned CypressByteModeClockGenIo::GetPllM() {
  return static_cast<unsigned>(ReadRegisterSequence(kRegPllM)) & 0x7F;
}
unsigned CypressByteModeClockGenIo::GetPllN() {
  return static_cast<unsigned>(ReadRegisterSequence(kRegPllN));
}

bool CypressByteModeClockGenIo::Detect() {
  return Identify(traits_.idRegister, traits_.id) && PassesGate(traits_.gate, HostKind());
}

double CypressByteModeClockGenIo::GetFsb() {
  const unsigned n = GetPllN();
  const unsigned m = GetPllM();
  return Mhz(clockgen::kCypressReferenceMhz * (n + 3) / (m + 3));
}

unsigned CypressByteModeClockGenIo::ChooseM(double mhz) const { return mhz > 129 ? kFastM : kFineM; }

void CypressByteModeClockGenIo::SetFsb(double mhz) {
  const unsigned m = ChooseM(mhz);
  const auto n = clockgen::FitCount(RoundTo(mhz * (m + 3) * kInverseReference - 3, 0), 0, kMaxPllN);
  if (!n) return;
  RewriteBlock([&](RegisterImage& image) {
    image[kRegPllN] = static_cast<std::int32_t>(*n);
    image[kRegPllM] = static_cast<std::int32_t>(m) | kProgrammedMode;
    AddToPllWrite(image);
  });
}

// Fast targets take the smaller M, which reaches the highest clock.
double CypressByteModeClockGenIo::GetHighestFsb() {
  return Mhz(clockgen::kCypressReferenceMhz * (kMaxPllN + 3) / (kFastM + 3));
}

double CypressByteModeClockGenIo::GetAgpClock(double fsb) { return Divided(fsb, GetAgpDivider()); }
double CypressByteModeClockGenIo::GetPciClock(double fsb) { return Divided(fsb, GetPciDivider()); }

void CypressByteModeClockGenIo::SetWatchdogTime(int seconds) {
  BusSequence sequence(true);
  std::int32_t w = ReadRegister(traits_.watchdogRegister);
  std::int32_t field = 0;
  if (seconds > 4.8) {
    const int count = std::min(static_cast<int>(seconds * 0.4), kWatchdogCountMax);
    field = ((count * 2) & kWatchdogCountMask) | kWatchdogLongUnit;
    if (LongTimeClearsHighBits()) w &= ~kWatchdogHighBits;
  } else {
    const int count = std::clamp(seconds * 1000 / 150, 0, kWatchdogCountMax);
    field = (count * 2) & kWatchdogCountMask;
  }
  w = (w & kWatchdogHighBits) | field;
  WriteRegister(traits_.watchdogRegister, w);
}

void CypressByteModeClockGenIo::EnableWatchdog(bool on) {
  BusSequence sequence(true);
  std::int32_t value = ReadRegister(kRegWatchdogEnable);
  value = on ? value | kWatchdogOnBits : WatchdogOff();
  WriteRegister(kRegWatchdogEnable, value);
}

double CypressByteModeClockGenIo::GetDefaultFsb() {
  // The select register keeps the latched strap in programmed mode too, so the
  // power-on clock stays readable after any change of the PLL (classing the clock
  // the PLL runs at would move the default with every step across a class).
  const std::int32_t select = ReadRegisterSequence(traits_.selectRegister);
  return Mhz(kByteModeClass.Pick((*traits_.table)[(static_cast<unsigned>(select) >> 3) & 0x1F]));
}

CYPW312Io::CYPW312Io(ClockGenBus bus) : CypressByteModeClockGenIo(std::move(bus), kW312) {}
CYPCY28323Io::CYPCY28323Io(ClockGenBus bus) : CypressByteModeClockGenIo(std::move(bus), kCy28323) {}
CYPCY28325Io::CYPCY28325Io(ClockGenBus bus) : CypressByteModeClockGenIo(std::move(bus), kCy28325) {}

// ---- CY28349: fixed M, fixed AGP/PCI outputs, nominal clock straight from the table

namespace {
constexpr std::uint8_t kCy28349RegSelect = 0;
constexpr std::uint8_t kCy28349RegControl = 10;
constexpr std::int32_t kCy28349ControlForPll = 0x10;
}  // namespace

CYPCY28349Io::CYPCY28349Io(ClockGenBus bus) : CypressByteModeClockGenIo(std::move(bus), kCy28349) {}

unsigned CYPCY28349Io::ChooseM(double /*mhz*/) const { return kFastM; }
void CYPCY28349Io::AddToPllWrite(RegisterImage& image) const {
  image[kCy28349RegControl] = kCy28349ControlForPll;
}
double CYPCY28349Io::GetAgpClock(double /*fsb*/) { return 66.6; }
double CYPCY28349Io::GetPciClock(double /*fsb*/) { return 33.3; }

double CYPCY28349Io::GetDefaultFsb() {
  const std::int32_t select = ReadRegisterSequence(kCy28349RegSelect);
  return Mhz(clockgen::kCypCy28349Table[static_cast<unsigned>(select) & 0x1F]);
}

// ---- CY28405 ---------------------------------------------------------------

namespace {
constexpr std::uint8_t kCy28405RegSelect = 0;
constexpr std::uint8_t kCy28405RegWatchdog = 11;
constexpr std::uint8_t kCy28405RegPllN = 12;     // N bits 1-8
constexpr std::uint8_t kCy28405RegPllM = 13;     // bits 0-6: M; bit 7: N bit 0
constexpr std::uint8_t kCy28405RegControl = 14;  // bit 0: programmed mode
constexpr std::int32_t kCy28405MEven = 0x30;     // M = 48
constexpr std::int32_t kCy28405MOdd = 0xB0;
constexpr unsigned kCy28405M = 48;
constexpr std::int32_t kCy28405WatchdogOn = 0x7F;
constexpr PlatformGate kCy28405Gate{K7Rule::kAny, clockgen::kIntelHosts};

const BandTable kCy28405Agp{{clockgen::From(100, 126, 6), clockgen::From(126, 133.3, 7),
                             clockgen::From(133.3, 166.6, 8), clockgen::From(166.6, 200, 10)},
                            12};
const BandTable kCy28405Pci{{clockgen::AtMost(66.6, 8), clockgen::Below(126, 12), clockgen::Below(133.3, 14),
                             clockgen::Below(166.6, 16), clockgen::Below(200, 20)},
                            24};
}  // namespace

CYPCY28405Io::CYPCY28405Io(ClockGenBus bus) : CypressClockGenIo(std::move(bus), "CY28405") {}

bool CYPCY28405Io::Detect() { return Identify(7, 0x48) && PassesGate(kCy28405Gate, HostKind()); }

unsigned CYPCY28405Io::GetAgpDivider() { return static_cast<unsigned>(kCy28405Agp.Pick(GetFsb())); }
unsigned CYPCY28405Io::GetPciDivider() { return static_cast<unsigned>(kCy28405Pci.Pick(GetFsb())); }
unsigned CYPCY28405Io::GetPllM() {
  return static_cast<unsigned>(ReadRegisterSequence(kCy28405RegPllM)) & 0x7F;
}

// N is read back exactly as SetFsb splits it: register 12 holds its upper eight
// bits and bit 7 of register 13 its lowest.
unsigned CYPCY28405Io::GetPllN() {
  std::int32_t high = 0;
  std::int32_t low = 0;
  {
    BusSequence sequence(true);
    high = ReadRegister(kCy28405RegPllN);
    low = ReadRegister(kCy28405RegPllM);
  }
  return (static_cast<unsigned>(high) << 1) | (static_cast<unsigned>(low) >> 7);
}

double CYPCY28405Io::GetDefaultFsb() {
  const std::int32_t select = ReadRegisterSequence(kCy28405RegSelect);
  return Mhz(clockgen::kCypCy28405Table[static_cast<unsigned>(select) & 0x1F]);
}

double CYPCY28405Io::GetFsb() {
  const double nominal = GetDefaultFsb();
  const double c = std::trunc(nominal);
  const unsigned m = GetPllM();
  const unsigned n = GetPllN();
  if (m == 0 || n == 0) return Mhz(c);
  return Mhz(n * clockgen::Cy28405Scale(nominal) / m);
}

// The output scale belongs to the bus class the part is strapped for, whatever
// the target: GetFsb reads with the same scale, so a target in another class (or
// in none) still lands where it was asked to.
void CYPCY28405Io::SetFsb(double mhz) {
  const double k = clockgen::Cy28405Scale(GetDefaultFsb());
  const double exact = mhz * kCy28405M / k + 1;
  const auto b = clockgen::FitCount(std::isnan(exact) ? exact : std::trunc(exact), 1, kMaxPllN);
  if (!b) return;
  RewriteBlock([&](RegisterImage& image) {
    image[kCy28405RegPllN] = static_cast<std::int32_t>(*b >> 1);
    image[kCy28405RegPllM] = (*b & 1) ? kCy28405MOdd : kCy28405MEven;
    image[kCy28405RegControl] |= 0x01;
  });
}

double CYPCY28405Io::GetHighestFsb() {
  return Mhz(kMaxPllN * clockgen::Cy28405Scale(GetDefaultFsb()) / kCy28405M);
}

double CYPCY28405Io::GetAgpClock(double /*fsb*/) { return 66.7; }
double CYPCY28405Io::GetPciClock(double /*fsb*/) { return 33.3; }

// The part counts a fixed time; only the enable is programmed.
void CYPCY28405Io::SetWatchdogTime(int /*seconds*/) { WriteRegisterSequence(kCy28405RegWatchdog, 0); }

void CYPCY28405Io::EnableWatchdog(bool on) {
  BusSequence sequence(true);
  if (on) {
    WriteRegister(kCy28405RegWatchdog, ReadRegister(kCy28405RegWatchdog) | kCy28405WatchdogOn);
  } else {
    WriteRegister(kCy28405RegWatchdog, 0);
  }
}

// ---- CY28341 ---------------------------------------------------------------

namespace {
constexpr std::uint8_t kCy28341RegSelect = 0;
constexpr std::uint8_t kCy28341RegWatchdog = 6;
constexpr std::uint8_t kCy28341RegPllN = 7;
constexpr std::uint8_t kCy28341RegPllM = 9;  // bits 1-6: M; bit 0: programmed mode
constexpr std::int32_t kCy28341ProgrammedM48 = 0x61;
constexpr unsigned kCy28341M = 48;
constexpr std::int32_t kCy28341WatchdogOn = 0x0F;
constexpr std::int32_t kCy28341WatchdogOff = 0x80;
constexpr PlatformGate kCy28341Gate{K7Rule::kAny, clockgen::kViaHosts};

const BandTable kCy28341Agp{{clockgen::AtMost(66.6, 2), clockgen::Below(120, 3), clockgen::From(120, 160, 4),
                             clockgen::From(160, 200, 5)},
                            6};
const BandTable kCy28341Pci{{clockgen::AtMost(66.6, 4), clockgen::Below(120, 6), clockgen::From(120, 160, 8),
                             clockgen::From(160, 200, 10)},
                            12};
const BandTable kCy28341Class{
    {clockgen::From(99, 130, 100), clockgen::From(130, 160, 133.3), clockgen::From(160, 197, 166.6)}, 200};
}  // namespace

CYPCY28341Io::CYPCY28341Io(ClockGenBus bus) : CypressClockGenIo(std::move(bus), "CY28341") {}

bool CYPCY28341Io::Detect() { return Identify(8, 0x18) && PassesGate(kCy28341Gate, HostKind()); }

unsigned CYPCY28341Io::GetAgpDivider() { return static_cast<unsigned>(kCy28341Agp.Pick(GetFsb())); }
unsigned CYPCY28341Io::GetPciDivider() { return static_cast<unsigned>(kCy28341Pci.Pick(GetFsb())); }
unsigned CYPCY28341Io::GetPllM() {
  return (static_cast<unsigned>(ReadRegisterSequence(kCy28341RegPllM)) >> 1) & 0x3F;
}
unsigned CYPCY28341Io::GetPllN() {
  return static_cast<unsigned>(ReadRegisterSequence(kCy28341RegPllN)) & 0x7F;
}

double CYPCY28341Io::TableFsb() {
  RegisterImage image{};
  {
    BusSequence sequence(true);
    if (Bus() != nullptr) Bus()->ReadBlock(image.data(), kCy28341RegSelect, 1);
  }
  std::int32_t v = image[kCy28341RegSelect];
  if (v & 0x02) v |= 0x80;
  return Mhz(clockgen::kCypCy28341Table[(static_cast<unsigned>(v) >> 4) & 0x0F]);
}

double CYPCY28341Io::GetFsb() {
  const unsigned n = GetPllN();
  const unsigned m = GetPllM();
  if (n == 0 || m == 0) return TableFsb();
  return Mhz(clockgen::kCy28341ReferenceMhz * n / m);
}

// Written against the same 96.016 MHz reference GetFsb reads with, so that a
// clock set is the clock read back to within one step of N.
void CYPCY28341Io::SetFsb(double mhz) {
  const auto n =
      clockgen::FitCount(RoundTo(mhz * kCy28341M / clockgen::kCy28341ReferenceMhz, 0), 1, kMaxPllN);
  if (!n) return;
  BusSequence sequence(true);
  ReadRegister(kCy28341RegPllN);
  ReadRegister(kCy28341RegPllM);
  WriteRegister(kCy28341RegPllN, static_cast<std::int32_t>(*n));
  WriteRegister(kCy28341RegPllM, kCy28341ProgrammedM48);
}

double CYPCY28341Io::GetHighestFsb() { return Mhz(clockgen::kCy28341ReferenceMhz * kMaxPllN / kCy28341M); }

double CYPCY28341Io::GetAgpClock(double fsb) { return Divided(fsb, GetAgpDivider()); }
double CYPCY28341Io::GetPciClock(double fsb) { return Divided(fsb, GetPciDivider()); }

void CYPCY28341Io::SetWatchdogTime(int /*seconds*/) { WriteRegisterSequence(kCy28341RegWatchdog, 0); }
void CYPCY28341Io::EnableWatchdog(bool on) {
  WriteRegisterSequence(kCy28341RegWatchdog, on ? kCy28341WatchdogOn : kCy28341WatchdogOff);
}

// The select register keeps the strap while the PLL runs programmed: its entry,
// classed, is the power-on clock wherever the PLL has been moved since.
double CYPCY28341Io::GetDefaultFsb() {
  const double strap = TableFsb();
  if (GetPllN() == 0 || GetPllM() == 0) return strap;
  return Mhz(kCy28341Class.Pick(strap));
}

}  // namespace rq::devices
