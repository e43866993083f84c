#pragma once
// The lowest and highest value of each sensor since a start, and when each was
// first seen. The caller hands in the time of every reading, so the record holds
// what a clock said rather than asking one itself.
#include <chrono>
#include <cstddef>
#include <map>
#include <optional>

#include "engine/Sensors.h"

namespace rq::engine {

class SensorStats {
 public:
  using Clock = std::chrono::system_clock;
  struct Extreme {
    double value;
    Clock::time_point seen;
  };
  struct Range {
    Extreme lowest;
    Extreme highest;
  };

  // A value equal to a kept extreme keeps the earlier time; NaN is no reading.
  void Add(std::size_t sensor, double value, Clock::time_point now);
  void Add(const SensorReadings& readings, Clock::time_point now);
  // Nothing for a sensor that has not answered since the start.
  std::optional<Range> RangeOf(std::size_t sensor) const;
  void Clear() { ranges_.clear(); }

 private:
  // Keyed by the caller's sensor number: the chip's fixed order, or any rows a
  // caller adds beyond it.
  std::map<std::size_t, Range> ranges_;
};

}  // namespace rq::engine
