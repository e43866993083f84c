#pragma once
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/Sensors.h"

namespace rq::engine {

// The alarm keys of the board's section: a high limit per temperature
// ("TempSensor1High".."TempSensor3High", degrees C) and a low limit per fan
// ("Fan1Low".."Fan3Low", RPM). Empty for a voltage: voltages have no alarm.
std::string AlarmLimitKey(std::size_t sensor);

// How far a value must come back inside its limit before its alarm ends, so that a
// value hovering at the limit raises one alarm rather than one every refresh.
inline constexpr double kTemperatureHysteresis = 2.0;  // degrees C
inline constexpr double kFanHysteresis = 100.0;        // RPM

// One crossing of a limit.
struct AlarmChange {
  std::size_t sensor;
  bool entered;  // true: the value went past its limit; false: it came back
  double value;
  double limit;
};
using AlarmChanges = std::vector<AlarmChange>;

// Which sensors are past their limits, refresh after refresh. No threads, no
// clock: whoever reads the sensors hands each refresh's readings in.
class SensorAlarms {
 public:
  using SettingLookup = std::function<std::string(const std::string& key)>;
  using LogLine = std::function<void(const std::string& line)>;

  // Takes the limits from `lookup` (a key's text; empty when absent). An absent or
  // empty key sets no limit; a text that is not a usable limit sets none either,
  // and `log` is told once per such text, not on every reload.
  void LoadLimits(const SettingLookup& lookup, const LogLine& log);
  std::optional<double> Limit(std::size_t sensor) const { return limits_.at(sensor); }
  // Whether any temperature has a limit (then a verification watches them).
  bool WatchesTemperatures() const;

  // One refresh: the crossings it brought, each reported once. A sensor missing
  // from `readings` (it did not answer) keeps its state; one whose limit was
  // removed while in alarm leaves it at its next reading.
  AlarmChanges Update(const SensorReadings& readings);
  bool InAlarm(std::size_t sensor) const { return inAlarm_.at(sensor); }

 private:
  std::array<std::optional<double>, kSensorCount> limits_{};
  std::array<bool, kSensorCount> inAlarm_{};
  std::array<std::string, kSensorCount> reportedText_{};  // the bad text last logged per key
};

// "CPU Temp 71 C is above its limit of 60 C", "... is back within its limit of 60 C".
std::string DescribeAlarmChange(const AlarmChange& change, const std::string& sensorName);

// The board's section of the settings file, as LoadLimits reads it.
SensorAlarms::SettingLookup BoardAlarmSettings();
// One line "rhomboquest: alarm: <line>" on standard error: alarms are logged
// whether tracing is on or not.
void LogAlarm(const std::string& line);

// Reads only the temperatures that have a limit: without limits the chip is not
// touched at all.
SensorReadings ReadWatchedTemperatures(devices::ISAHwMonitorIo& chip, const SensorAlarms& alarms);

}  // namespace rq::engine
