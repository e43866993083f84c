#pragma once
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/WorkerThread.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

// CPU speed in MHz from two time-stamp counter readings 500 ms apart: the low 32
// bits of the difference, unsigned, over 500 x 1000.
double CpuSpeedFromCounters(std::uint64_t first, std::uint64_t second);

// Measures the CPU speed once a second, stores it in the system object and
// refreshes the main window's read-outs on the window thread.
class CPUSpeedThread : public platform::WorkerThread {
 public:
  // A reading of the counter; nothing when the source does not answer.
  using CounterReader = std::function<std::optional<std::uint64_t>()>;
  // Sleeps the given milliseconds; false when the thread should end.
  using Sleeper = std::function<bool(std::uint32_t)>;

  explicit CPUSpeedThread(engine::MSupport& system);
  // For tests: the counters and the sleep instead of the driver and real time.
  CPUSpeedThread(engine::MSupport& system, CounterReader driverCounter, CounterReader cpuCounter,
                 Sleeper sleep);
  ~CPUSpeedThread() override;

  // One measurement; nothing when the thread was asked to end or the counter failed.
  std::optional<double> Measure();

 protected:
  void Execute() override;

 private:
  bool Sleep(std::uint32_t ms);

  engine::MSupport& system_;
  CounterReader driverCounter_;
  CounterReader cpuCounter_;
  Sleeper sleep_;
};

}  // namespace rq::app
