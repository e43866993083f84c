#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

#include "engine/SensorStats.h"
#include "engine/Sensors.h"

namespace rq::engine {

using SensorClock = std::chrono::system_clock;

// A value and when it was read.
struct SensorSample {
  SensorClock::time_point at;
  double value;
};

// What the monitor's refreshes have read, per sensor: the last readings in a ring
// of fixed size (ten minutes at one refresh a second, however long the program
// runs) and the lowest and highest value since the first refresh, each with the
// moment it was first seen. It holds only what it is given: the refresh that
// shows the values records them, so keeping a history costs no reads of the chip.
class SensorHistory {
 public:
  static constexpr std::size_t kRingSize = 600;

  // One refresh: each reading joins its own sensor's ring; a sensor that did not
  // answer records nothing (its graph shows a gap).
  void Record(const SensorReadings& readings, SensorClock::time_point at);

  // The sensor's ring, oldest first: at most kRingSize samples.
  std::vector<SensorSample> Samples(std::size_t sensor) const;
  std::optional<SensorSample> Lowest(std::size_t sensor) const;
  std::optional<SensorSample> Highest(std::size_t sensor) const;

 private:
  struct Track {
    std::array<SensorSample, kRingSize> ring{};
    std::size_t next = 0;   // where the next sample goes
    std::size_t count = 0;  // samples held, up to kRingSize
  };
  // By sensor number: the chip's fifteen, or the host's own sensors numbered after
  // them; a track is made at a sensor's first answer and keeps its fixed ring.
  std::map<std::size_t, Track> tracks_;
  SensorStats extremes_;
};

}  // namespace rq::engine
