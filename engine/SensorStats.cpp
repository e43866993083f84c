#include "engine/SensorStats.h"

#include <cmath>

namespace rq::engine {

void SensorStats::Add(std::size_t sensor, double value, Clock::time_point now) {
  if (std::isnan(value)) return;
  const auto [found, fresh] = ranges_.try_emplace(sensor, Range{{value, now}, {value, now}});
  if (fresh) return;
  Range& range = found->second;
  if (value < range.lowest.value) range.lowest = {value, now};
  if (value > range.highest.value) range.highest = {value, now};
}

void SensorStats::Add(const SensorReadings& readings, Clock::time_point now) {
  for (const SensorReading& reading : readings) Add(reading.sensor, reading.value, now);
}

std::optional<SensorStats::Range> SensorStats::RangeOf(std::size_t sensor) const {
  const auto found = ranges_.find(sensor);
  if (found == ranges_.end()) return std::nullopt;
  return found->second;
}

}  // namespace rq::engine
