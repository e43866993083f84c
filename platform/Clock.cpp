#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace rq::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

const SteadyClock::time_point& ProcessStart() {
  static const SteadyClock::time_point start = SteadyClock::now();
  return start;
}

// Taken at load time so that the tick count starts near zero at process start.
[[maybe_unused]] const auto& kStartAnchor = ProcessStart();

}  // namespace

std::uint32_t GetTickCount() {
  const auto elapsed = SteadyClock::now() - ProcessStart();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void DelayMs(std::uint32_t ms) {
  // Spin on the steady clock itself rather than on whole ticks: a tick-based spin
  // that starts just before a tick boundary would return almost a millisecond early.
  const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
  while (SteadyClock::now() < until) {
  }
}

void Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace rq::platform
