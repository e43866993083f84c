#include "engine/SensorAlarms.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "devices/SystemFacts.h"
#include "engine/Formatting.h"

namespace rq::engine {
namespace {

// The sensors' own keys end in "Label" ("TempSensor2Label", "Fan1Label"); the alarm
// keys put the limit's direction there instead.
constexpr std::string_view kLabelSuffix = "Label";

bool HasAlarm(std::size_t sensor) {
  const SensorQuantity quantity = SensorAt(sensor).quantity;
  return quantity == SensorQuantity::Temperature || quantity == SensorQuantity::Fan;
}

bool IsHighLimit(std::size_t sensor) { return SensorAt(sensor).quantity == SensorQuantity::Temperature; }

// A limit is a plain finite number; a fan's cannot be negative.
std::optional<double> ParseLimit(std::size_t sensor, const std::string& text) {
  std::optional<double> limit = TextToFloat(text);
  if (limit && (!std::isfinite(*limit) || (!IsHighLimit(sensor) && *limit < 0))) return std::nullopt;
  return limit;
}

bool PastLimit(std::size_t sensor, double value, double limit) {
  return IsHighLimit(sensor) ? value > limit : value < limit;
}

bool BackWithin(std::size_t sensor, double value, double limit) {
  return IsHighLimit(sensor) ? value <= limit - kTemperatureHysteresis : value >= limit + kFanHysteresis;
}

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

std::string AlarmLimitKey(std::size_t sensor) {
  if (!HasAlarm(sensor)) return {};
  std::string key = SensorAt(sensor).nameKey;
  key.resize(key.size() - kLabelSuffix.size());
  return key + (IsHighLimit(sensor) ? "High" : "Low");
}

void SensorAlarms::LoadLimits(const SettingLookup& lookup, const LogLine& log) {
  for (std::size_t sensor = 0; sensor < kSensorCount; ++sensor) {
    limits_[sensor].reset();
    if (!HasAlarm(sensor)) continue;
    const std::string key = AlarmLimitKey(sensor);
    const std::string text = lookup(key);
    if (IsBlank(text)) {
      reportedText_[sensor].clear();
      continue;
    }
    limits_[sensor] = ParseLimit(sensor, text);
    if (limits_[sensor]) {
      reportedText_[sensor].clear();
    } else if (reportedText_[sensor] != text) {
      reportedText_[sensor] = text;
      log(key + "=" + text + " in the settings file is not " +
          (IsHighLimit(sensor) ? "a number" : "a number of 0 or more") +
          ": ignored, no alarm for this sensor");
    }
  }
}

bool SensorAlarms::WatchesTemperatures() const {
  for (std::size_t sensor = 0; sensor < kSensorCount; ++sensor) {
    if (IsHighLimit(sensor) && limits_[sensor]) return true;
  }
  return false;
}

AlarmChanges SensorAlarms::Update(const SensorReadings& readings) {
  AlarmChanges changes;
  for (const SensorReading& reading : readings) {
    const std::size_t sensor = reading.sensor;
    if (sensor >= kSensorCount) continue;  // a host sensor: the board's keys give it no limit
    const std::optional<double> limit = limits_[sensor];
    if (!inAlarm_[sensor] && limit && PastLimit(sensor, reading.value, *limit)) {
      inAlarm_[sensor] = true;
      changes.push_back({sensor, true, reading.value, *limit});
    } else if (inAlarm_[sensor] && (!limit || BackWithin(sensor, reading.value, *limit))) {
      inAlarm_[sensor] = false;
      changes.push_back({sensor, false, reading.value, limit.value_or(NAN)});
    }
  }
  return changes;
}

std::string DescribeAlarmChange(const AlarmChange& change, const std::string& sensorName) {
  const std::string unit = std::string(" ") + SensorUnit(change.sensor);
  const std::string value = sensorName + " " + FloatToText(change.value) + unit;
  if (std::isnan(change.limit)) return value + " has no limit any more";
  const std::string limit = FloatToText(change.limit) + unit;
  if (!change.entered) return value + " is back within its limit of " + limit;
  return value + " is " + (IsHighLimit(change.sensor) ? "above" : "below") + " its limit of " + limit;
}

SensorAlarms::SettingLookup BoardAlarmSettings() {
  return [](const std::string& key) { return devices::BoardSettingString(key); };
}

void LogAlarm(const std::string& line) { std::fprintf(stderr, "rhomboquest: alarm: %s\n", line.c_str()); }

SensorReadings ReadWatchedTemperatures(devices::ISAHwMonitorIo& chip, const SensorAlarms& alarms) {
  SensorReadings readings;
  for (std::size_t sensor = 0; sensor < kSensorCount; ++sensor) {
    if (!IsHighLimit(sensor) || !alarms.Limit(sensor)) continue;
    double value = 0;
    if (SensorAt(sensor).read(chip, value)) readings.push_back({sensor, value});
  }
  return readings;
}

}  // namespace rq::engine
