#include <array>
#include <string_view>

#include "devices/SystemFacts.h"
#include "devices/monitor/MonitorChips.h"

namespace rq::devices {

namespace {

constexpr char kDescription[] = "ITE Environment Control Low Pin Count Input/Output";
constexpr ISAHwMonitorIo::ResistorTable kResistors = {{
    {0, 0},     // VCoreA
    {0, 0},     // VCoreB
    {0, 0},     // +3.3 V
    {68, 100},  // +5 V
    {30, 10},   // +12 V
    {232, 56},  // -12 V
    {121, 56},  // -5 V
    {0, 0},     // battery
    {68, 100},  // 5 V standby
}};
// Boards that halve 3.3 V before the IT8712F's pin.
constexpr std::array<std::string_view, 5> kHalvedV33Boards = {"RUM", "RUMPRO", "MOR", "BUL", "RUMV"};
constexpr ISAHwMonitorIo::ResistorPair kHalved{10, 10};

// Super I/O configuration ports and the key that opens them.
constexpr std::uint16_t kConfigIndex = 0x2E;
constexpr std::uint16_t kConfigData = 0x2F;
constexpr std::array<std::uint8_t, 4> kEnterKey = {0x87, 0x01, 0x55, 0x55};
constexpr std::uint8_t kChipIdHighReg = 0x20;
constexpr std::uint8_t kChipIdLowReg = 0x21;
constexpr std::uint8_t kChipIdHigh = 0x87;
constexpr std::uint8_t kConfigControl = 0x02;
constexpr std::uint8_t kWaitForKey = 0x02;

constexpr std::uint8_t kRegConfiguration = 0x00;
constexpr std::uint8_t kMeasureBattery = 0x40;
constexpr std::uint8_t kRegFanDivisor = 0x0B;
constexpr std::uint8_t kRegFan1 = 0x0D;
constexpr std::uint8_t kRegFan2 = 0x0E;
constexpr std::uint8_t kRegFan3 = 0x0F;
constexpr std::uint8_t kRegVCoreA = 0x20;
constexpr std::uint8_t kRegVCoreB = 0x21;
constexpr std::uint8_t kRegV33 = 0x22;
constexpr std::uint8_t kRegV5 = 0x23;
constexpr std::uint8_t kRegV12 = 0x24;
constexpr std::uint8_t kRegVN12 = 0x25;
constexpr std::uint8_t kRegVN5 = 0x26;
constexpr std::uint8_t kReg5VSb = 0x27;
constexpr std::uint8_t kRegVBat = 0x28;
constexpr std::uint8_t kRegTemp1 = 0x29;
constexpr std::uint8_t kRegTemp2 = 0x2A;
constexpr std::uint8_t kRegTemp3 = 0x2B;
// Divisor codes: fan 1 bits 2..0, fan 2 bits 5..3; fan 3 / 8 (code 3) when bit 6
// is set, else / 2 (code 1).
constexpr unsigned kCodeMask = 0x7;
constexpr int kFan2Shift = 3;
constexpr std::uint8_t kFan3Slow = 0x40;
constexpr unsigned kFan3SlowCode = 3;
constexpr unsigned kFan3FastCode = 1;
// The negative inputs are referred to the chip's 4.096 V reference.
constexpr double kNegativeReference = 4.096;

bool HalvesV33(const std::string& boardModel) {
  for (const auto board : kHalvedV33Boards) {
    if (boardModel == board) return true;
  }
  return false;
}

}  // namespace

IteHwMonitorIo::IteHwMonitorIo(std::string modelName, std::uint8_t chipIdLow, bool halvedV33)
    : ISAHwMonitorIo(std::move(modelName), kDescription, kResistors), chipIdLow_(chipIdLow) {
  if (halvedV33) SetResistors(kV33, kHalved);
}

IT8712FIo::IT8712FIo() : IteHwMonitorIo("IT8712F", 0x12, HalvesV33(CurrentSystem().boardModel)) {}
IT8705FIo::IT8705FIo() : IteHwMonitorIo("IT8705F", 0x05, false) {}
IT8722FIo::IT8722FIo() : IteHwMonitorIo("IT8722F", 0x22, false) {}

bool IteHwMonitorIo::IdentifyInConfigurationMode(bool& matches) const {
  for (const std::uint8_t key : kEnterKey) {
    if (!WritePortByte(kConfigIndex, key)) return false;
  }
  std::uint32_t high = 0;
  if (!WritePortByte(kConfigIndex, kChipIdHighReg) || !ReadPortByte(kConfigData, high)) return false;
  if ((high & 0xFF) != kChipIdHigh) return true;
  std::uint32_t low = 0;
  if (!WritePortByte(kConfigIndex, kChipIdLowReg) || !ReadPortByte(kConfigData, low)) return false;
  matches = (low & 0xFF) == chipIdLow_;
  return true;
}

void IteHwMonitorIo::LeaveConfigurationMode() const {
  if (!WritePortByte(kConfigIndex, kConfigControl)) return;
  // Bit 1 of the control register sends the chip back to waiting for the key;
  // should the read fail, the bit alone still does that.
  std::uint32_t control = 0;
  ReadPortByte(kConfigData, control);
  WritePortByte(kConfigData, static_cast<std::uint8_t>((control & 0xFF) | kWaitForKey));
}

bool IteHwMonitorIo::Probe() {
  // The configuration ports are a pair of their own, shared by the whole Super I/O.
  const ChipHold hold(kConfigIndex, configMutex_);
  if (!hold.Held()) return false;
  bool matches = false;
  IdentifyInConfigurationMode(matches);
  LeaveConfigurationMode();
  return matches;
}

bool IteHwMonitorIo::ReadTempSensor1(double& value) {
  return ReadTemperature8("TempSensor1", kRegTemp1, value);
}
bool IteHwMonitorIo::ReadTempSensor2(double& value) {
  return ReadTemperature8("TempSensor2", kRegTemp2, value);
}
bool IteHwMonitorIo::ReadTempSensor3(double& value) {
  return ReadTemperature8("TempSensor3", kRegTemp3, value);
}

std::optional<unsigned> IteHwMonitorIo::FanDivisorCode(int fan) const {
  const auto divisors = ReadRegister(kRegFanDivisor);
  if (!divisors) return std::nullopt;
  switch (fan) {
    case 1:
      return *divisors & kCodeMask;
    case 2:
      return (*divisors >> kFan2Shift) & kCodeMask;
    default:
      return (*divisors & kFan3Slow) != 0 ? kFan3SlowCode : kFan3FastCode;
  }
}

bool IteHwMonitorIo::ReadFan1(std::int32_t& rpm) {
  return ReadFan("Fan1", kRegFan1, rpm, [this] { return FanDivisorCode(1); });
}

bool IteHwMonitorIo::ReadFan2(std::int32_t& rpm) {
  return ReadFan("Fan2", kRegFan2, rpm, [this] { return FanDivisorCode(2); });
}

bool IteHwMonitorIo::ReadFan3(std::int32_t& rpm) {
  return ReadFan("Fan3", kRegFan3, rpm, [this] { return FanDivisorCode(3); });
}

bool IteHwMonitorIo::ReadVCoreA(double& value) { return ReadPositive("VCoreA", kVCoreA, kRegVCoreA, value); }
bool IteHwMonitorIo::ReadVCoreB(double& value) { return ReadPositive("VCoreB", kVCoreB, kRegVCoreB, value); }
bool IteHwMonitorIo::ReadV33(double& value) { return ReadPositive("V33", kV33, kRegV33, value); }
bool IteHwMonitorIo::ReadV5(double& value) { return ReadPositive("V5", kV5, kRegV5, value); }
bool IteHwMonitorIo::ReadV12(double& value) { return ReadPositive("V12", kV12, kRegV12, value); }
bool IteHwMonitorIo::Read5VSB(double& value) { return ReadPositive("5VSB", k5VSb, kReg5VSb, value); }

bool IteHwMonitorIo::ReadNegative(const char* key, Rail rail, std::uint8_t reg, double& value) const {
  if (!VoltageOn(key)) return false;
  if (!RailVolts(rail, 0)) return false;
  const auto raw = ReadRegister(reg);
  if (!raw) return false;
  value = TwoDecimals(*RailVolts(rail, AdcVolts(*raw)));
  return true;
}

std::optional<double> IteHwMonitorIo::RailVolts(Rail rail, double pinVolts) const {
  if (rail != kVN12 && rail != kVN5) return PositiveRailVolts(rail, pinVolts);
  const ResistorPair& pair = Resistors(rail);
  if (pair.r1 == 0 || pair.r2 == 0) return std::nullopt;
  return pinVolts * (pair.r1 + pair.r2) / pair.r2 - pair.r1 * kNegativeReference / pair.r2;
}

bool IteHwMonitorIo::ReadVN12(double& value) { return ReadNegative("VN12", kVN12, kRegVN12, value); }
bool IteHwMonitorIo::ReadVN5(double& value) { return ReadNegative("VN5", kVN5, kRegVN5, value); }

bool IteHwMonitorIo::ReadVBAT(double& value) {
  if (!VoltageOn("VBAT")) return false;
  const auto hold = HoldChip();
  // The battery is measured only on request: set the trigger, then read.
  const auto configuration = ReadRegister(kRegConfiguration);
  if (!configuration) return false;
  if (!WriteRegister(kRegConfiguration, static_cast<std::uint8_t>(*configuration | kMeasureBattery)))
    return false;
  const auto raw = ReadRegister(kRegVBat);
  if (!raw) return false;
  value = TwoDecimals(ScalePositive(kVBat, *raw));
  return true;
}

}  // namespace rq::devices
