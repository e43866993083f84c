#include "devices/clockgen/IcsClockGens.h"

#include <algorithm>

#include "devices/Rounding.h"
#include "devices/clockgen/ClockGenTables.h"

namespace rq::devices {

using clockgen::BandTable;
using clockgen::BusSequence;
using clockgen::K7Rule;
using clockgen::kTableA;
using clockgen::kTableB;
using clockgen::PassesGate;
using clockgen::PlatformGate;

namespace {

// Register map shared by the ICS parts (where a part differs, its code says so).
constexpr std::uint8_t kRegSelect = 0;       // bit 7: software select, bits 4-7: index, bit 2: high half
constexpr std::uint8_t kRegSelectHigh = 1;   // latched select index / bit 2: high half
constexpr std::uint8_t kRegStrapSelect = 4;  // bits 4-7: select index
constexpr std::uint8_t kRegByteCount = 8;
constexpr std::uint8_t kRegWatchdogTime = 9;
constexpr std::uint8_t kRegControl = 10;  // bit 7: programming enable; watchdog enables
constexpr std::uint8_t kRegPllM = 11;     // bits 0-6: M; bit 7: N bit 8
constexpr std::uint8_t kRegPllN = 12;     // N bits 0-7
constexpr std::uint8_t kRegCpuDivider = 15;
constexpr std::uint8_t kRegAgpDivider = 16;
constexpr std::uint8_t kRegPciDivider = 17;

constexpr std::int32_t kFullBlockCount = 0x17;
constexpr std::int32_t kProgramEnable = 0x80;
constexpr std::int32_t kSoftwareSelect = 0x80;
constexpr std::int32_t kHighHalfSelect = 0x04;
constexpr double kInverseReference = 0.069841278710003646;  // 1 / 14.31818
constexpr unsigned kWatchdogUnitMs = 290;

constexpr std::uint16_t kWatchdogTimePort = 0x104A;
constexpr std::uint16_t kWatchdogEnablePort = 0x104B;
constexpr std::uint8_t kWatchdogPortOn = 0x9F;
constexpr std::uint8_t kWatchdogPortOff = 0x1F;

unsigned Nibble(std::int32_t value) { return static_cast<unsigned>(value) & 0x0F; }

// Rounds a frequency result of the family to one decimal.
double Mhz(double value) { return RoundTo(value, 1); }

}  // namespace

// ---- shared ----------------------------------------------------------------

unsigned IcsClockGenIo::Read(RegisterImage& image, std::uint8_t start, unsigned count) {
  return Bus() == nullptr ? 0 : Bus()->ReadBlock(image.data(), start, count);
}

void IcsClockGenIo::Write(const RegisterImage& image, std::uint8_t start, unsigned count) {
  if (Bus() != nullptr) Bus()->WriteBlock(image.data(), start, count);
}

RegisterImage IcsClockGenIo::ReadSequence(std::uint8_t start, unsigned count) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, start, count);
  return image;
}

void IcsClockGenIo::PrefetchThroughDividers() {
  RegisterImage image{};
  Read(image, 0, kRegPciDivider + 1);
}

void IcsClockGenIo::OpenFullBlock() {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, 0, 0);
  image[kRegByteCount] = kFullBlockCount;
  Write(image, kRegByteCount, 1);
}

unsigned IcsClockGenIo::GetCpuDivider() {
  return kTableA[Nibble(ReadSequence(kRegCpuDivider, 1)[kRegCpuDivider])];
}

unsigned IcsClockGenIo::GetPllM() { return ReadSequence(kRegPllM, 1)[kRegPllM] & 0x7F; }

unsigned IcsClockGenIo::PllMFromBlock(unsigned count) { return ReadSequence(0, count)[kRegPllM] & 0x7F; }

unsigned IcsClockGenIo::GetPllN() {
  const RegisterImage image = ReadSequence(kRegPllM, 2);
  return ((static_cast<unsigned>(image[kRegPllM]) & 0x80) << 1) |
         (static_cast<unsigned>(image[kRegPllN]) & 0xFF);
}

double IcsClockGenIo::GetFsb() {
  const unsigned d = GetCpuDivider();
  if (d == 0) return 0.0;
  const unsigned n = GetPllN();
  const unsigned m = GetPllM();
  return Mhz(clockgen::kIcsReferenceMhz * (n + 8) / d / (m + 2));
}

void IcsClockGenIo::SetFsb(double mhz) {
  const unsigned d = GetCpuDivider();
  const unsigned m = GetPllM();
  const double exact = mhz * d * (m + 2) * kInverseReference - 8;
  // Past the ends of the 9-bit field the nearest representable count is written,
  // never a wrapped one.
  const auto n = clockgen::FitCount(RoundTo(exact, 0), 0, kMaxPllN);
  if (n) WritePllN(*n);
}

double IcsClockGenIo::GetHighestFsb() {
  const unsigned d = GetCpuDivider();
  if (d == 0) return 0.0;
  return Mhz(clockgen::kIcsReferenceMhz * (kMaxPllN + 8) / d / (GetPllM() + 2));
}

double IcsClockGenIo::GetAgpClock(double fsb) {
  const unsigned a = GetAgpDivider();
  if (a == 0) return 0.0;
  return Mhz(fsb * GetCpuDivider() / a);
}

double IcsClockGenIo::GetPciClock(double fsb) {
  const unsigned p = GetPciDivider();
  if (p == 0) return 0.0;
  return Mhz(fsb * GetCpuDivider() / p);
}

void IcsClockGenIo::PlaceN(RegisterImage& image, unsigned n) {
  image[kRegPllM] = (image[kRegPllM] & 0x7F) | static_cast<std::int32_t>((n & 0x100) >> 1);
  image[kRegPllN] = static_cast<std::int32_t>(n & 0xFF);
}

void IcsClockGenIo::WritePllNAt11(unsigned n) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegPllM, 2);
  PlaceN(image, n);
  Write(image, kRegPllM, 2);
}

void IcsClockGenIo::WritePllNAt10(unsigned n) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegControl, 3);
  image[kRegControl] |= kProgramEnable;
  PlaceN(image, n);
  Write(image, kRegControl, 3);
}

unsigned IcsClockGenIo::AgpDividerLowNibble() {
  return kTableA[Nibble(ReadSequence(kRegAgpDivider, 1)[kRegAgpDivider])];
}

unsigned IcsClockGenIo::AgpDividerHighNibble() {
  return kTableA[Nibble(ReadSequence(kRegAgpDivider, 1)[kRegAgpDivider] >> 4)];
}

unsigned IcsClockGenIo::PciDividerFromTableB() {
  return kTableB[Nibble(ReadSequence(kRegPciDivider, 1)[kRegPciDivider])];
}

void IcsClockGenIo::SetWatchdogTimeIn290Ms(int seconds) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegWatchdogTime, 1);
  // The register is one byte: longer times saturate instead of wrapping short.
  const int units = std::max(seconds, 0) * 1000 / static_cast<int>(kWatchdogUnitMs);
  image[kRegWatchdogTime] = std::min(units, 0xFF);
  Write(image, kRegWatchdogTime, 1);
}

void IcsClockGenIo::EnableWatchdogBits(std::uint8_t mask, bool on) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegControl, 1);
  if (on) {
    image[kRegControl] |= mask;
  } else {
    image[kRegControl] &= ~static_cast<std::int32_t>(mask);
  }
  Write(image, kRegControl, 1);
}

double IcsClockGenIo::DefaultFsbFromSelectNibble(const clockgen::FrequencyTable& table) {
  const RegisterImage image = ReadSequence(0, 5);
  unsigned index = Nibble(image[kRegStrapSelect] >> 4);
  if (image[kRegSelectHigh] & kHighHalfSelect) index += 16;
  return Mhz(table[index & 0x1F]);
}

void IcsClockGenIo::SetWatchdogTimeByPort(int seconds) {
  BusSequence sequence;
  WritePortOnBus(kWatchdogTimePort, static_cast<std::uint8_t>(std::clamp(seconds, 0, 0xFF)));
}

void IcsClockGenIo::EnableWatchdogByPort(bool on) {
  BusSequence sequence;
  WritePortOnBus(kWatchdogEnablePort, on ? kWatchdogPortOn : kWatchdogPortOff);
}

void IcsClockGenIo::WritePortOnBus(std::uint16_t port, std::uint8_t value) {
  const BusSequence sequence;  // joins the caller's: no write without the bus
  if (!sequence.Held()) return;
  hw::IOInterface io;
  io.WritePortByte(port, value);
}

// ---- ICS950218 -------------------------------------------------------------

namespace {
constexpr std::int32_t kIcs950218Id = 0x28;  // register 7
constexpr std::uint8_t kIcs950218WatchdogEnable = 0x40;
constexpr PlatformGate kIcs950218Gate{K7Rule::kExcluded, clockgen::kIntelHosts};
}  // namespace

ICS950218Io::ICS950218Io(ClockGenBus bus)
    : IcsClockGenIo(std::move(bus), "ICS950218", "ICS Programmable Timing ControlHub") {}

bool ICS950218Io::Detect() {
  if (!Identify(7, 1, [](const RegisterImage& r) { return r[7] == kIcs950218Id; })) return false;
  if (!PassesGate(kIcs950218Gate, HostKind())) return false;
  OpenFullBlock();
  return true;
}

unsigned ICS950218Io::GetAgpDivider() { return AgpDividerLowNibble(); }
unsigned ICS950218Io::GetPciDivider() { return PciDividerFromTableB(); }
void ICS950218Io::WritePllN(unsigned n) { WritePllNAt11(n); }
void ICS950218Io::SetWatchdogTime(int seconds) { SetWatchdogTimeIn290Ms(seconds); }
void ICS950218Io::EnableWatchdog(bool on) { EnableWatchdogBits(kIcs950218WatchdogEnable, on); }

double ICS950218Io::GetDefaultFsb() {
  RegisterImage image{};
  unsigned index = 0;
  {
    BusSequence sequence;
    Read(image, kRegSelect, 1);
    const std::int32_t select = image[kRegSelect];
    if (select & kSoftwareSelect) {
      index = Nibble(select >> 4);
      if (select & kHighHalfSelect) index |= 0x10;
    } else {
      Read(image, kRegSelectHigh, 1);
      index = static_cast<unsigned>(image[kRegSelectHigh]);
    }
  }
  return Mhz(clockgen::kIcs950218Table[index & 0x1F]);
}

// ---- ICS950905 / ICS950910 / ICS9428: the P4 and K7 hubs with M in a 12-byte block

namespace {
constexpr std::uint8_t kHubWatchdogEnable = 0x60;  // bits 5 and 6 together
constexpr unsigned kHubBlockForM = 12;
constexpr PlatformGate kIcs950905Gate{K7Rule::kExcluded, clockgen::kViaHosts};
constexpr PlatformGate kIcs950910Gate{K7Rule::kExcluded, clockgen::kViaHosts};
constexpr PlatformGate kIcs9428Gate{K7Rule::kRequired, clockgen::kSisHosts, "QEM"};
}  // namespace

ICS950905Io::ICS950905Io(ClockGenBus bus)
    : IcsClockGenIo(std::move(bus), "ICS950905", "ICS Programmable Timing Control Hub for P4") {}

bool ICS950905Io::Detect() {
  if (!Identify(7, 2, [](const RegisterImage& r) { return r[7] == 0xFF && r[8] != 0x08; })) return false;
  if (!PassesGate(kIcs950905Gate, HostKind())) return false;
  OpenFullBlock();
  return true;
}

unsigned ICS950905Io::GetAgpDivider() { return AgpDividerHighNibble(); }
unsigned ICS950905Io::GetPciDivider() { return PciDividerFromTableB(); }
unsigned ICS950905Io::GetPllM() { return PllMFromBlock(kHubBlockForM); }
void ICS950905Io::WritePllN(unsigned n) { WritePllNAt11(n); }
void ICS950905Io::SetWatchdogTime(int seconds) { SetWatchdogTimeIn290Ms(seconds); }
void ICS950905Io::EnableWatchdog(bool on) { EnableWatchdogBits(kHubWatchdogEnable, on); }
double ICS950905Io::GetDefaultFsb() { return DefaultFsbFromSelectNibble(clockgen::kIcs950905Table); }

ICS950910Io::ICS950910Io(ClockGenBus bus)
    : IcsClockGenIo(std::move(bus), "ICS950910", "ICS Programmable Timing Control Hub for P4") {}

bool ICS950910Io::Detect() {
  if (!Identify(6, 2, [](const RegisterImage& r) { return r[6] == 0x01 || r[7] == 0x10; })) return false;
  if (!PassesGate(kIcs950910Gate, HostKind())) return false;
  OpenFullBlock();
  return true;
}

unsigned ICS950910Io::GetAgpDivider() { return AgpDividerHighNibble(); }
unsigned ICS950910Io::GetPciDivider() { return PciDividerFromTableB(); }
unsigned ICS950910Io::GetPllM() { return PllMFromBlock(kHubBlockForM); }
void ICS950910Io::WritePllN(unsigned n) { WritePllNAt10(n); }
void ICS950910Io::SetWatchdogTime(int seconds) { SetWatchdogTimeIn290Ms(seconds); }
void ICS950910Io::EnableWatchdog(bool on) { EnableWatchdogBits(kHubWatchdogEnable, on); }
double ICS950910Io::GetDefaultFsb() { return DefaultFsbFromSelectNibble(clockgen::kIcs950910Table); }

ICS9428Io::ICS9428Io(ClockGenBus bus)
    : IcsClockGenIo(std::move(bus), "ICS9428", "ICS Programmable Timing Control Hub for AMD K7") {}

bool ICS9428Io::Detect() {
  // The part has no identification register: the board alone vouches for it.
  if (Bus() == nullptr || !PassesGate(kIcs9428Gate, HostKind())) return false;
  OpenFullBlock();
  return true;
}

unsigned ICS9428Io::GetAgpDivider() { return AgpDividerHighNibble(); }
unsigned ICS9428Io::GetPciDivider() { return PciDividerFromTableB(); }
unsigned ICS9428Io::GetPllM() { return PllMFromBlock(kHubBlockForM); }
void ICS9428Io::WritePllN(unsigned n) { WritePllNAt11(n); }
void ICS9428Io::SetWatchdogTime(int seconds) { SetWatchdogTimeIn290Ms(seconds); }
void ICS9428Io::EnableWatchdog(bool on) { EnableWatchdogBits(kHubWatchdogEnable, on); }
double ICS9428Io::GetDefaultFsb() { return DefaultFsbFromSelectNibble(clockgen::kIcs9428Table); }

// ---- ICS94228: the K7 system clock, PLL in registers 9-10 ------------------

namespace {
constexpr std::uint8_t kIcs94228RegPll = 9;       // bits 0-6: M; bit 7: N bit 0
constexpr std::uint8_t kIcs94228RegPllHigh = 10;  // N bits 1-8
constexpr std::uint8_t kIcs94228RegWatchdog = 4;
constexpr unsigned kIcs94228CpuDivider = 2;
constexpr std::int32_t kIcs94228WatchdogTime = 0x7F;
constexpr std::uint8_t kIcs94228WatchdogOn = 0xFF;
constexpr std::uint8_t kIcs94228WatchdogOff = 0x44;
constexpr PlatformGate kIcs94228Gate{K7Rule::kRequired, clockgen::kViaHosts};

// The bands close the one-megahertz gaps between classes upwards: a bus clock in
// a gap belongs with the faster class, not with the catch-all.
const BandTable kIcs94228Agp{{clockgen::AtMost(66.6, 1), clockgen::Above(66.6, 130, 3),
                              clockgen::From(130, 160, 4), clockgen::From(160, 200, 5)},
                             6};
const BandTable kIcs94228Pci{{clockgen::AtMost(66.6, 4), clockgen::Above(66.6, 130, 6),
                              clockgen::From(130, 160, 8), clockgen::From(160, 200, 10)},
                             12};
const BandTable kIcs94228Class{
    {clockgen::Closed(98, 130, 100), {130, false, 163, true, 133}, {163, false, 197, true, 166}}, 200};
}  // namespace

ICS94228Io::ICS94228Io(ClockGenBus bus)
    : IcsClockGenIo(std::move(bus), "ICS94228", "ICS Programmable System Clock Chip for AMD-K7") {}

bool ICS94228Io::Detect() {
  if (!Identify(0, 8, [](const RegisterImage& r) { return r[6] == 0x11 || r[7] == 0x0C; })) return false;
  return PassesGate(kIcs94228Gate, HostKind());
}

unsigned ICS94228Io::GetCpuDivider() { return kIcs94228CpuDivider; }
unsigned ICS94228Io::GetAgpDivider() { return static_cast<unsigned>(kIcs94228Agp.Pick(GetFsb())); }
unsigned ICS94228Io::GetPciDivider() { return static_cast<unsigned>(kIcs94228Pci.Pick(GetFsb())); }
unsigned ICS94228Io::GetPllM() { return ReadSequence(0, 11)[kIcs94228RegPll] & 0x7F; }

unsigned ICS94228Io::GetPllN() {
  const RegisterImage image = ReadSequence(0, 11);
  return (static_cast<unsigned>(image[kIcs94228RegPllHigh] & 0xFF) << 1) |
         (static_cast<unsigned>(image[kIcs94228RegPll] & 0x80) >> 7);
}

void ICS94228Io::WritePllN(unsigned n) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, 0, 12);
  if (n & 1) {
    image[kIcs94228RegPll] |= 0x80;
  } else {
    image[kIcs94228RegPll] &= 0x7F;
  }
  image[kIcs94228RegPllHigh] = static_cast<std::int32_t>(n >> 1);
  Write(image, 0, 12);
}

void ICS94228Io::WriteWatchdogRegister(std::uint8_t value) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, 0, 5);
  image[kIcs94228RegWatchdog] = value;
  Write(image, 0, 5);
}

// The part has a fixed time-out; the requested time is not programmable.
void ICS94228Io::SetWatchdogTime(int /*seconds*/) { WriteWatchdogRegister(kIcs94228WatchdogTime); }
void ICS94228Io::EnableWatchdog(bool on) {
  WriteWatchdogRegister(on ? kIcs94228WatchdogOn : kIcs94228WatchdogOff);
}
double ICS94228Io::GetDefaultFsb() { return Mhz(kIcs94228Class.Pick(GetFsb())); }

// ---- ICS952005 / ICS952001: SiS-board hubs ---------------------------------

namespace {
const BandTable kSisBoardAgp{
    {clockgen::Above(66.6, 130, 3), clockgen::From(130, 164, 4), clockgen::From(164, 200, 5)}, 6};
const BandTable kSisBoardPci{
    {clockgen::Above(66.6, 130, 3), clockgen::From(130, 160, 4), clockgen::From(160, 190, 5)}, 6};
constexpr PlatformGate kIcs952005Gate{K7Rule::kExcluded, clockgen::kSisHosts, "QAV"};
constexpr PlatformGate kIcs952001Gate{K7Rule::kExcluded, clockgen::kSisHosts, "QIR"};
constexpr std::int32_t kIcs952005PllByteCount = 3;
constexpr std::int32_t kIcs952001PllByteCount = 2;
}  // namespace

unsigned IcsSisBoardClockGenIo::GetAgpDivider() { return static_cast<unsigned>(kSisBoardAgp.Pick(GetFsb())); }
unsigned IcsSisBoardClockGenIo::GetPciDivider() { return static_cast<unsigned>(kSisBoardPci.Pick(GetFsb())); }

double IcsSisBoardClockGenIo::GetAgpClock(double fsb) {
  const unsigned a = GetAgpDivider();
  return a == 0 ? 0.0 : Mhz(2 * fsb / a);
}

double IcsSisBoardClockGenIo::GetPciClock(double fsb) {
  const unsigned p = GetPciDivider();
  return p == 0 ? 0.0 : Mhz(fsb / p);
}

ICS952005Io::ICS952005Io(ClockGenBus bus)
    : IcsSisBoardClockGenIo(std::move(bus), "ICS952005", "ICS Programmable Timing Control Hub for P4") {}

bool ICS952005Io::Detect() {
  if (Bus() == nullptr) return false;
  { BusSequence sequence; }  // claims the bus once, as every probe does, without a transfer
  return PassesGate(kIcs952005Gate, HostKind());
}

double ICS952005Io::GetDefaultFsb() {
  const std::int32_t strap = ReadSequence(kRegStrapSelect, 1)[kRegStrapSelect];
  unsigned index = Nibble(strap >> 4);
  if (strap & kHighHalfSelect) index += 16;
  return Mhz(clockgen::kIcs952005Table[index & 0x1F]);
}

void ICS952005Io::WritePllN(unsigned n) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegControl, 3);
  image[kRegControl] |= kProgramEnable;
  PlaceN(image, n);
  RegisterImage count{};
  count[kRegByteCount] = kIcs952005PllByteCount;
  Write(count, kRegByteCount, 1);
  Write(image, kRegControl, 3);
  Read(image, kRegControl, 3);
}

ICS952001Io::ICS952001Io(ClockGenBus bus)
    : IcsSisBoardClockGenIo(std::move(bus), "ICS952001", "ICS Programmable Timing Control Hub for P4") {}

bool ICS952001Io::Detect() {
  if (Bus() == nullptr || !PassesGate(kIcs952001Gate, HostKind())) return false;
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegControl, 1);
  image[kRegControl] |= kProgramEnable;
  Write(image, kRegControl, 1);
  return true;
}

namespace {
const BandTable kIcs952001Class{{clockgen::Closed(98, 129, 100.0), {129, false, 160, true, 133.3}}, 200.0};
}  // namespace

double ICS952001Io::GetDefaultFsb() {
  const double f = GetFsb();
  // Below the slowest class the chip runs at whatever it was set to.
  if (f < 98) return f;
  return Mhz(kIcs952001Class.Pick(f));
}

void ICS952001Io::WritePllN(unsigned n) {
  RegisterImage image{};
  BusSequence sequence;
  Read(image, kRegPllM, 2);
  PlaceN(image, n);
  RegisterImage count{};
  count[kRegByteCount] = kIcs952001PllByteCount;
  Write(count, kRegByteCount, 1);
  Write(image, kRegPllM, 2);
  Read(image, kRegPllM, 2);
}

double ICS952001Io::GetMemRefClock() {
  const unsigned m = kTableA[Nibble(ReadSequence(kRegCpuDivider, 1)[kRegCpuDivider] >> 4)];
  const double v = GetDefaultFsb() * GetCpuDivider() / m;
  if (v >= 99 && v <= 130) return 100.0;
  if (v > 130 && v <= 160) return 132.0;
  return 166.0;
}

}  // namespace rq::devices
