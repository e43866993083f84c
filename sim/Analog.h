#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>

namespace rq::sim {

class Board;
class ChipConfig;

// The supplies the board's regulators deliver. The monitor chips measure them; the
// voltage controllers change the core and memory voltages.
enum class Supply : std::size_t { VCore, VMem, V33, V5, V12, VN12, VN5, VBat, V5Sb };
inline constexpr std::size_t kSupplyCount = 9;

// The fans a board can carry: the CPU cooler's, a case fan and a third (power
// supply or chipset) fan.
enum class Fan : std::size_t { Cpu, System, Aux };
inline constexpr std::size_t kFanCount = 3;

// What the profile's "analog" chip entry says about the board's analogue side; a
// board without one gets these typical values.
struct AnalogSettings {
  // Nominal supplies in volts; VCore is the CPU's VID, what the regulator delivers
  // until a voltage controller overrides it.
  std::array<double, kSupplyCount> nominal = {1.50, 2.60, 3.30, 5.00, 12.00, -12.00, -5.00, 3.05, 5.00};
  // Peak ripple, as a percentage of each nominal value.
  double ripplePercent = 0.25;
  double ambientC = 25.0;
  // Power the CPU draws at its power-on core clock and its VID; it scales with the
  // core clock and with the square of the core voltage.
  double cpuWatts = 55.0;
  // Steady-state rise above ambient per watt, and the time constants of the lags.
  double cpuCPerWatt = 0.40;
  double cpuTauS = 30.0;
  double boardCPerWatt = 0.15;
  double boardTauS = 180.0;
  // How much further the CPU runs stably per 0.1 V of core voltage above its VID.
  double stableFsbMhzPer100mV = 0.0;
  // Fan speeds at or below the temperature where the fans start to speed up; 0 = no fan.
  std::array<double, kFanCount> fanRpm = {3000.0, 1800.0, 0.0};
};

// The analogue side of the board: supplies with a little ripple, a CPU whose
// temperature follows its power through a first-order lag, a board temperature
// that follows more slowly, fans that speed up as it gets warm, and the extra FSB
// headroom a raised core voltage buys. Everything runs on the board's time source,
// so tests step time by hand.
class Analog {
 public:
  explicit Analog(Board& board) : board_(board) {}

  void Configure(const AnalogSettings& settings);
  const AnalogSettings& Settings() const { return settings_; }
  // True once a profile entry has set the values (a board has one at most).
  bool Configured() const { return configured_; }

  // The supply as the chips see it now: nominal (or overridden) plus ripple.
  double Volts(Supply supply) const;
  // Without ripple: what the regulator is set to.
  double SetPoint(Supply supply) const;
  // A voltage controller drives the core voltage; a lower voltage than the FSB
  // needs hangs the machine. ClearCoreOverride returns to the VID.
  void OverrideCore(double volts);
  void ClearCoreOverride();
  void OverrideMemory(double volts);

  double CpuTempC() const;
  double BoardTempC() const;
  double CpuWatts() const;
  double FanRpm(Fan fan) const;
  // Extra MHz of stable FSB the present core voltage allows (never negative).
  double StableFsbHeadroomMhz() const;

  // Carries the temperatures forward to now at the power drawn so far; the CPU
  // calls it before its clock changes so each interval uses its own power.
  void Settle();
  // Supplies back to their set points; temperatures carry on (a reset does not
  // cool the CPU). The first power-on starts from the idle steady state.
  void PowerOnReset();
  nlohmann::json Inspect() const;

 private:
  struct Thermal {
    double cpuC;
    double boardC;
  };
  std::int64_t NowNs() const;
  Thermal At(std::int64_t ns) const;
  Thermal SteadyState() const;

  Board& board_;
  AnalogSettings settings_;
  std::optional<double> coreOverride_;
  std::optional<double> memoryOverride_;
  bool configured_ = false;
  bool started_ = false;
  double referenceCoreMhz_ = 0.0;
  Thermal thermal_{};
  std::int64_t settledNs_ = 0;
};

// A chip whose outputs set a regulator. A power-on reset returns the supplies to
// their nominal values; the board then lets each driver set them again from its
// own power-on state.
class SupplyDriver {
 public:
  virtual ~SupplyDriver() = default;
  virtual void DriveSupplies() = 0;
};

// Reads the "analog" chip entry of a profile into settings (every key optional).
AnalogSettings ReadAnalogSettings(const ChipConfig& config);

}  // namespace rq::sim
