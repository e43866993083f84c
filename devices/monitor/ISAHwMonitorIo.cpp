#include "devices/monitor/ISAHwMonitorIo.h"

#include "devices/Rounding.h"
#include "devices/SystemFacts.h"

namespace rq::devices {

namespace {
// The settings keys of temperatures and fans are off unless a board section
// turns them on; the voltages are on unless it turns them off.
constexpr int kTemperatureDefault = 0;
constexpr int kFanDefault = 0;
constexpr int kVoltageDefault = 1;
constexpr std::uint8_t kFanStopped = 255;
constexpr unsigned kFanClockPerMinute = 1'350'000;
constexpr std::uint8_t kSignBit = 0x80;
constexpr int kByteRange = 0x100;
}  // namespace

bool ISAHwMonitorIo::TemperatureOn(const char* key) { return BoardSettingInt(key, kTemperatureDefault) != 0; }
bool ISAHwMonitorIo::FanOn(const char* key) { return BoardSettingInt(key, kFanDefault) != 0; }
bool ISAHwMonitorIo::VoltageOn(const char* key) { return BoardSettingInt(key, kVoltageDefault) != 0; }

std::optional<std::uint8_t> ISAHwMonitorIo::ReadRegister(std::uint8_t reg) const {
  const auto hold = HoldChip();
  std::uint32_t value = 0;
  if (!hold.Held() || !ReadIndexedByte({indexPort_, dataPort_}, reg, value)) return std::nullopt;
  return static_cast<std::uint8_t>(value & 0xFF);
}

bool ISAHwMonitorIo::WriteRegister(std::uint8_t reg, std::uint8_t value) const {
  const auto hold = HoldChip();
  return hold.Held() && WriteIndexedByte({indexPort_, dataPort_}, reg, value);
}

double ISAHwMonitorIo::PositiveRailVolts(Rail rail, double pinVolts) const {
  const ResistorPair& pair = resistors_[rail];
  if (pair.r2 != 0) return pinVolts * (pair.r1 + pair.r2) / pair.r2;
  return pinVolts;
}

std::optional<double> ISAHwMonitorIo::RailVolts(Rail rail, double pinVolts) const {
  return PositiveRailVolts(rail, pinVolts);
}

bool ISAHwMonitorIo::ReadPositive(const char* key, Rail rail, std::uint8_t reg, double& value) const {
  if (!VoltageOn(key)) return false;
  const auto raw = ReadRegister(reg);
  if (!raw) return false;
  value = TwoDecimals(ScalePositive(rail, *raw));
  return true;
}

bool ISAHwMonitorIo::ReadTemperature8(const char* key, std::uint8_t reg, double& value) const {
  if (!TemperatureOn(key)) return false;
  const auto raw = ReadRegister(reg);
  if (!raw) return false;
  // Below freezing the chips count down from 256 (two's complement).
  const int degrees = (*raw & kSignBit) != 0 ? *raw - kByteRange : *raw;
  value = TwoDecimals(degrees);
  return true;
}

// 255 is a count that ran out: no fan, or one too slow to measure. 0 cannot be
// divided by and no turning fan gives it: shown as stopped too.
bool ISAHwMonitorIo::IsStopped(std::uint8_t count) { return count == kFanStopped || count == 0; }

std::int32_t ISAHwMonitorIo::FanRpm(std::uint8_t count, unsigned divisorCode) {
  return static_cast<std::int32_t>((kFanClockPerMinute / count) / (1U << divisorCode));
}

double ISAHwMonitorIo::TwoDecimals(double value) { return RoundTo(value, 2); }

std::vector<ISAHwMonitorIo::RegisterBank> ISAHwMonitorIo::ReadRegisterBanks() const {
  const auto hold = HoldChip();
  RegisterBank all{-1, {}};
  for (std::size_t reg = 0; reg < all.bytes.size(); ++reg)
    all.bytes[reg] = ReadRegister(static_cast<std::uint8_t>(reg));
  return {all};
}

}  // namespace rq::devices
