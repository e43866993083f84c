#include "sim/Analog.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "sim/Board.h"
#include "sim/ChipConfig.h"

namespace rq::sim {

namespace {

constexpr double kNsPerS = 1e9;
constexpr double kVoltsPerStep = 0.1;
// Fans run at their base speed up to this temperature, then 2 % faster per degree,
// up to 1.8 times the base speed.
constexpr double kFanQuietC = 40.0;
constexpr double kFanGainPerC = 0.02;
constexpr double kFanMaxFactor = 1.8;
// Ripple: a slow wander plus a little noise that changes every 200 ms.
constexpr double kWanderShare = 0.6;
constexpr double kNoiseShare = 0.4;
constexpr std::int64_t kNoiseStepNs = 200'000'000;
constexpr double kWanderPeriodS = 7.0;

std::size_t Index(Supply supply) { return static_cast<std::size_t>(supply); }

// A repeatable value in [-1, 1] for a time slot and a supply (splitmix64).
double Noise(std::uint64_t slot, std::uint64_t stream) {
  std::uint64_t z = slot * 0x9E3779B97F4A7C15ULL + stream * 0xBF58476D1CE4E5B9ULL + 1;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  constexpr double kScale = 1.0 / 9007199254740992.0;  // 2^-53
  return static_cast<double>(z >> 11) * kScale * 2.0 - 1.0;
}

// Moves `from` toward `target` over `seconds` with time constant `tau`.
double Lag(double from, double target, double seconds, double tau) {
  return target + (from - target) * std::exp(-seconds / tau);
}

}  // namespace

void Analog::Configure(const AnalogSettings& settings) {
  settings_ = settings;
  configured_ = true;
  started_ = false;
}

std::int64_t Analog::NowNs() const { return board_.Time().Now().count(); }

double Analog::SetPoint(Supply supply) const {
  if (supply == Supply::VCore && coreOverride_) return *coreOverride_;
  if (supply == Supply::VMem && memoryOverride_) return *memoryOverride_;
  return settings_.nominal[Index(supply)];
}

double Analog::Volts(Supply supply) const {
  const double setPoint = SetPoint(supply);
  const std::int64_t ns = NowNs();
  const double seconds = static_cast<double>(ns) / kNsPerS;
  const auto stream = static_cast<double>(Index(supply));
  const double wander = std::sin(2.0 * std::numbers::pi * seconds / (kWanderPeriodS + stream) + stream);
  const double noise = Noise(static_cast<std::uint64_t>(ns / kNoiseStepNs), Index(supply));
  const double amplitude = std::fabs(setPoint) * settings_.ripplePercent / 100.0;
  return setPoint + amplitude * (kWanderShare * wander + kNoiseShare * noise);
}

void Analog::OverrideCore(double volts) {
  Settle();
  // A regulator cannot deliver less than nothing; NaN from a bad decode is nothing.
  coreOverride_ = volts > 0.0 ? volts : 0.0;
  // Re-setting the same FSB checks it against the limit the new voltage allows.
  board_.Processor().SetFsb(board_.Processor().Fsb());
}

void Analog::ClearCoreOverride() {
  Settle();
  coreOverride_.reset();
  board_.Processor().SetFsb(board_.Processor().Fsb());
}

void Analog::OverrideMemory(double volts) { memoryOverride_ = volts; }

double Analog::CpuWatts() const {
  if (referenceCoreMhz_ <= 0.0) return settings_.cpuWatts;
  const double vid = settings_.nominal[Index(Supply::VCore)];
  const double ratio = SetPoint(Supply::VCore) / vid;
  return settings_.cpuWatts * (board_.Processor().CoreMhz() / referenceCoreMhz_) * ratio * ratio;
}

Analog::Thermal Analog::SteadyState() const {
  const double watts = CpuWatts();
  return {settings_.ambientC + watts * settings_.cpuCPerWatt,
          settings_.ambientC + watts * settings_.boardCPerWatt};
}

Analog::Thermal Analog::At(std::int64_t ns) const {
  if (!started_) return SteadyState();
  const double seconds = static_cast<double>(std::max<std::int64_t>(0, ns - settledNs_)) / kNsPerS;
  const Thermal target = SteadyState();
  return {Lag(thermal_.cpuC, target.cpuC, seconds, settings_.cpuTauS),
          Lag(thermal_.boardC, target.boardC, seconds, settings_.boardTauS)};
}

double Analog::CpuTempC() const { return At(NowNs()).cpuC; }
double Analog::BoardTempC() const { return At(NowNs()).boardC; }

double Analog::FanRpm(Fan fan) const {
  const double base = settings_.fanRpm[static_cast<std::size_t>(fan)];
  const double temp = fan == Fan::Cpu ? CpuTempC() : BoardTempC();
  const double factor = 1.0 + kFanGainPerC * std::max(0.0, temp - kFanQuietC);
  return base * std::min(factor, kFanMaxFactor);
}

double Analog::StableFsbHeadroomMhz() const {
  const double above = SetPoint(Supply::VCore) - settings_.nominal[Index(Supply::VCore)];
  return std::max(0.0, above / kVoltsPerStep * settings_.stableFsbMhzPer100mV);
}

void Analog::Settle() {
  if (!started_) return;
  const std::int64_t ns = NowNs();
  thermal_ = At(ns);
  settledNs_ = ns;
}

void Analog::PowerOnReset() {
  coreOverride_.reset();
  memoryOverride_.reset();
  if (!started_) {
    // The core clock the clock generator powers up with is the one the rated power
    // refers to; the machine has idled there long enough to be warm.
    referenceCoreMhz_ = board_.Processor().CoreMhz();
    thermal_ = SteadyState();
    settledNs_ = NowNs();
    started_ = true;
    return;
  }
  Settle();
}

nlohmann::json Analog::Inspect() const {
  static constexpr std::array<const char*, kSupplyCount> kSupplyNames = {
      "vcore", "vmem", "v33", "v5", "v12", "vn12", "vn5", "vbat", "5vsb"};
  static constexpr std::array<const char*, kFanCount> kFanNames = {"cpu", "system", "aux"};
  nlohmann::json supplies = nlohmann::json::object();
  for (std::size_t i = 0; i < kSupplyCount; ++i) {
    supplies[kSupplyNames[i]] = Volts(static_cast<Supply>(i));
  }
  nlohmann::json fans = nlohmann::json::object();
  for (std::size_t i = 0; i < kFanCount; ++i) {
    fans[kFanNames[i]] = FanRpm(static_cast<Fan>(i));
  }
  const Thermal now = At(NowNs());
  return {{"volts", std::move(supplies)},
          {"vid", settings_.nominal[Index(Supply::VCore)]},
          {"coreOverridden", coreOverride_.has_value()},
          {"cpuWatts", CpuWatts()},
          {"cpuTempC", now.cpuC},
          {"boardTempC", now.boardC},
          {"fanRpm", std::move(fans)},
          {"stableFsbHeadroomMhz", StableFsbHeadroomMhz()}};
}

AnalogSettings ReadAnalogSettings(const ChipConfig& config) {
  AnalogSettings s;
  constexpr double kMaxVolts = 15.0;
  auto supply = [&](const char* key, Supply which, double min, double max) {
    s.nominal[Index(which)] = config.Number(key, min, max, s.nominal[Index(which)]);
  };
  supply("cpu_vid", Supply::VCore, 0.5, 2.5);
  supply("vmem", Supply::VMem, 1.0, 4.0);
  supply("v33", Supply::V33, 2.5, 4.0);
  supply("v5", Supply::V5, 4.0, 6.0);
  supply("v12", Supply::V12, 10.0, kMaxVolts);
  supply("vn12", Supply::VN12, -kMaxVolts, -10.0);
  supply("vn5", Supply::VN5, -6.0, -4.0);
  supply("vbat", Supply::VBat, 2.0, 3.6);
  supply("v5sb", Supply::V5Sb, 4.0, 6.0);
  s.ripplePercent = config.Number("ripple_percent", 0.0, 5.0, s.ripplePercent);
  s.ambientC = config.Number("ambient_c", -20.0, 50.0, s.ambientC);
  s.cpuWatts = config.Number("cpu_watts", 1.0, 300.0, s.cpuWatts);
  s.cpuCPerWatt = config.Number("cpu_c_per_watt", 0.01, 2.0, s.cpuCPerWatt);
  s.cpuTauS = config.Number("cpu_tau_s", 1.0, 600.0, s.cpuTauS);
  s.boardCPerWatt = config.Number("board_c_per_watt", 0.0, 1.0, s.boardCPerWatt);
  s.boardTauS = config.Number("board_tau_s", 1.0, 3600.0, s.boardTauS);
  s.stableFsbMhzPer100mV = config.Number("stable_fsb_mhz_per_100mv", 0.0, 100.0, s.stableFsbMhzPer100mV);
  constexpr double kMaxRpm = 10000.0;
  s.fanRpm[0] = config.Number("cpu_fan_rpm", 0.0, kMaxRpm, s.fanRpm[0]);
  s.fanRpm[1] = config.Number("system_fan_rpm", 0.0, kMaxRpm, s.fanRpm[1]);
  s.fanRpm[2] = config.Number("aux_fan_rpm", 0.0, kMaxRpm, s.fanRpm[2]);
  return s;
}

// One entry per board at most: two would silently replace each other.
void BuildAnalog(const ChipConfig& config, Board& board) {
  if (board.Analogue().Configured()) config.Fail("a board has one analogue side; \"analog\" is listed twice");
  board.Analogue().Configure(ReadAnalogSettings(config));
}
RQ_SIM_CHIP("analog", BuildAnalog);

}  // namespace rq::sim
