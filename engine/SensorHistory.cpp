#include "engine/SensorHistory.h"

#include <cmath>

namespace rq::engine {

void SensorHistory::Record(const SensorReadings& readings, SensorClock::time_point at) {
  for (const SensorReading& reading : readings) {
    if (!std::isfinite(reading.value)) continue;
    Track& track = tracks_[reading.sensor];
    const SensorSample sample{at, reading.value};
    track.ring[track.next] = sample;
    track.next = (track.next + 1) % kRingSize;
    if (track.count < kRingSize) ++track.count;
    extremes_.Add(reading.sensor, reading.value, at);
  }
}

std::optional<SensorSample> SensorHistory::Lowest(std::size_t sensor) const {
  const auto range = extremes_.RangeOf(sensor);
  if (!range) return std::nullopt;
  return SensorSample{range->lowest.seen, range->lowest.value};
}

std::optional<SensorSample> SensorHistory::Highest(std::size_t sensor) const {
  const auto range = extremes_.RangeOf(sensor);
  if (!range) return std::nullopt;
  return SensorSample{range->highest.seen, range->highest.value};
}

std::vector<SensorSample> SensorHistory::Samples(std::size_t sensor) const {
  std::vector<SensorSample> samples;
  const auto found = tracks_.find(sensor);
  if (found == tracks_.end()) return samples;
  const Track& track = found->second;
  samples.reserve(track.count);
  const std::size_t oldest = (track.next + kRingSize - track.count) % kRingSize;
  for (std::size_t i = 0; i < track.count; ++i) samples.push_back(track.ring[(oldest + i) % kRingSize]);
  return samples;
}

}  // namespace rq::engine
