#include "platform/Clock.h"

#include <time.h>

#include <cerrno>
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

// steady_clock is CLOCK_MONOTONIC on Linux, so its time points can be handed to
// clock_nanosleep as they are.
static_assert(SteadyClock::is_steady);

}  // namespace

std::uint32_t GetTickCount() {
  const auto elapsed = SteadyClock::now() - ProcessStart();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void DelayMs(std::uint32_t ms) {
  // Measured on the steady clock itself rather than on whole ticks: a tick-based wait
  // that starts just before a tick boundary would return almost a millisecond early.
  const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
  // Sleep through the bulk of the wait so that it costs no processor time; a sleep
  // may wake late by the timer slack and the scheduler's latency, so it stops short
  // of the end by that much and the rest is spun, keeping the wait as exact as a spin.
  const auto wakeUp = until - kDelaySpinMargin;
  if (SteadyClock::now() < wakeUp) {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(wakeUp.time_since_epoch());
    timespec at{};
    at.tv_sec = static_cast<time_t>(sinceEpoch.count() / 1'000'000'000);
    at.tv_nsec = static_cast<long>(sinceEpoch.count() % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
  }
  while (SteadyClock::now() < until) {
  }
}

void Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace rq::platform
