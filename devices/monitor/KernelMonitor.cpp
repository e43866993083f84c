#include "devices/monitor/KernelMonitor.h"

#include <functional>
#include <utility>

#include "devices/monitor/MonitorChips.h"

namespace rq::devices {
namespace {

using Wiring = KernelHwMonitorIo::Wiring;

// Rails in the order of the resistor table: VCoreA, VCoreB, 3.3 V, 5 V, 12 V, -12 V,
// -5 V, battery, 5 V standby. Both families' drivers give 5 V standby as in7 and the
// battery as in8; the Winbond chips have no third temperature or fan.
constexpr Wiring kWinbondWiring{{1, 2, 0}, {1, 2, 0}, {1, 2, 3, 4, 5, 6, 7, 9, 8}};
constexpr Wiring kW83697Wiring{{1, 2, 0}, {1, 2, 0}, {1, 0, 3, 4, 5, 6, 7, 9, 8}};
constexpr Wiring kIteWiring{{1, 2, 3}, {1, 2, 3}, {1, 2, 3, 4, 5, 6, 7, 9, 8}};

struct KernelDriver {
  const char* name;
  std::function<std::unique_ptr<ISAHwMonitorIo>()> make;
  const Wiring& wiring;
};

template <typename Chip>
std::unique_ptr<ISAHwMonitorIo> Make() {
  return std::make_unique<Chip>();
}

const std::array<KernelDriver, 4>& KernelDrivers() {
  static const std::array<KernelDriver, 4> drivers = {{
      {"w83627hf", Make<W83627HFIo>, kWinbondWiring},
      {"w83697hf", Make<W83697HFIo>, kW83697Wiring},
      {"it87", Make<IT8705FIo>, kIteWiring},
      {"it8712", Make<IT8712FIo>, kIteWiring},
  }};
  return drivers;
}

}  // namespace

KernelHwMonitorIo::KernelHwMonitorIo(std::unique_ptr<ISAHwMonitorIo> chip, HwmonChip driver,
                                     const Wiring& wiring)
    : ISAHwMonitorIo(chip->GetModel(), chip->GetDescription(), {}),
      chip_(std::move(chip)),
      driver_(std::move(driver)),
      wiring_(wiring) {}

std::optional<double> KernelHwMonitorIo::ReadAttribute(HwmonQuantity quantity, const std::string& prefix,
                                                       unsigned channel) const {
  const std::string own = prefix + std::to_string(channel);
  return ReadHwmonChannel({quantity, {}, driver_.name, driver_.folder + "/" + own + "_input", own});
}

bool KernelHwMonitorIo::ReadTemperature(const char* key, std::size_t slot, double& value) const {
  if (wiring_.temperatures[slot] == 0 || !TemperatureOn(key)) return false;
  const auto degrees = ReadAttribute(HwmonQuantity::Temperature, "temp", wiring_.temperatures[slot]);
  if (!degrees) return false;
  value = TwoDecimals(*degrees);
  return true;
}

bool KernelHwMonitorIo::ReadFanRpm(const char* key, std::size_t slot, std::int32_t& rpm) const {
  if (wiring_.fans[slot] == 0 || !FanOn(key)) return false;
  const auto turns = ReadAttribute(HwmonQuantity::Fan, "fan", wiring_.fans[slot]);
  if (!turns) return false;
  rpm = static_cast<std::int32_t>(*turns);
  return true;
}

bool KernelHwMonitorIo::ReadRail(const char* key, Rail rail, double& value) const {
  if (wiring_.rails[rail] == 0 || !VoltageOn(key)) return false;
  const auto pin = ReadAttribute(HwmonQuantity::Voltage, "in", wiring_.rails[rail] - 1);
  if (!pin) return false;
  const auto volts = RailVolts(rail, *pin);
  if (!volts) return false;
  value = TwoDecimals(*volts);
  return true;
}

std::unique_ptr<ISAHwMonitorIo> FindKernelOwnedMonitor(const std::string& sysfsRoot) {
  for (const HwmonChip& hwmon : FindHwmonChips(sysfsRoot)) {
    for (const KernelDriver& driver : KernelDrivers()) {
      if (hwmon.name == driver.name)
        return std::make_unique<KernelHwMonitorIo>(driver.make(), hwmon, driver.wiring);
    }
  }
  return nullptr;
}

}  // namespace rq::devices
