#include "app/CPUSpeedThread.h"

#include <x86intrin.h>

#include "app/TMainForm.h"
#include "engine/MSupport.h"
#include "hw/IOInterface.h"
#include "platform/WindowThread.h"

namespace rq::app {
namespace {

constexpr std::uint32_t kSettleMs = 10;
constexpr std::uint32_t kMeasureMs = 500;
constexpr std::uint32_t kPeriodMs = 1000;

std::optional<std::uint64_t> DriverCounter() {
  std::uint64_t tsc = 0;
  if (hw::IOInterface().ReadTimeStampCounter(tsc)) return tsc;
  return std::nullopt;
}

std::optional<std::uint64_t> CpuCounter() { return __rdtsc(); }

}  // namespace

double CpuSpeedFromCounters(std::uint64_t first, std::uint64_t second) {
  const auto ticks = static_cast<std::uint32_t>(second - first);
  return static_cast<double>(ticks) / (kMeasureMs * 1000.0);
}

CPUSpeedThread::CPUSpeedThread(engine::MSupport& system)
    : CPUSpeedThread(system, &DriverCounter, &CpuCounter, nullptr) {}

CPUSpeedThread::CPUSpeedThread(engine::MSupport& system, CounterReader driverCounter,
                               CounterReader cpuCounter, Sleeper sleep)
    : system_(system),
      driverCounter_(std::move(driverCounter)),
      cpuCounter_(std::move(cpuCounter)),
      sleep_(std::move(sleep)) {}

CPUSpeedThread::~CPUSpeedThread() { Shutdown(); }

bool CPUSpeedThread::Sleep(std::uint32_t ms) {
  if (sleep_) return sleep_(ms) && !Terminated();
  return SleepMs(ms);
}

std::optional<double> CPUSpeedThread::Measure() {
  SetPriority(platform::ThreadPriority::TimeCritical);
  std::optional<double> speed;
  if (Sleep(kSettleMs)) {
    // Both readings come from the same counter: the virtual board's CPU when the
    // driver offers it (it follows the simulated clock), else this processor's.
    bool fromDriver = true;
    std::optional<std::uint64_t> first = driverCounter_ ? driverCounter_() : std::nullopt;
    if (!first) {
      fromDriver = false;
      first = cpuCounter_();
    }
    if (first && Sleep(kMeasureMs)) {
      const std::optional<std::uint64_t> second = fromDriver ? driverCounter_() : cpuCounter_();
      if (second) speed = CpuSpeedFromCounters(*first, *second);
    }
  }
  SetPriority(platform::ThreadPriority::Normal);
  return speed;
}

void CPUSpeedThread::Execute() {
  while (!Terminated()) {
    if (const std::optional<double> speed = Measure()) {
      platform::Synchronize([this, value = *speed] {
        system_.cpuSpeed = value;
        if (TMainForm* main = AppForms().mainForm) main->RefreshReadouts();
      });
    }
    if (!Sleep(kPeriodMs)) break;
  }
}

}  // namespace rq::app
