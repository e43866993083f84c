#pragma once
#include <cstdint>
#include <functional>

#include "engine/SensorAlarms.h"
#include "platform/WorkerThread.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

// Refreshes the monitor window once a second while the panel is out. The chip is
// read here, off the window thread (each read is a round trip to the driver); only
// the finished values go to the window thread. The main window suspends the thread
// when the panel closes; it then pauses between two passes, never inside one, so
// it never holds the driver connection or a register sequence while it waits.
class HwMonitorThread : public platform::WorkerThread {
 public:
  // Sleeps the given milliseconds; false when the thread should end.
  using Sleeper = std::function<bool(std::uint32_t)>;

  explicit HwMonitorThread(engine::MSupport& system);
  // For tests: the wait between passes instead of real time.
  HwMonitorThread(engine::MSupport& system, Sleeper sleep);
  ~HwMonitorThread() override;

  // One pass: read every sensor, then show the values on the window thread. Each
  // pass also takes the alarm limits afresh from the board's section: a crossing is
  // logged here once, and the window colours the row and notifies the desktop once.
  void RefreshSensorValues();

 protected:
  void Execute() override;

 private:
  engine::MSupport& system_;
  Sleeper sleep_;
  engine::SensorAlarms alarms_;  // this thread's alone
};

}  // namespace rq::app
