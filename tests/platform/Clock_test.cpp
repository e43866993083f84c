#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>

namespace rq::platform {
namespace {

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The SMBus waits keep their full length but leave the processor to others: a
// run of them like one transaction's costs a small share of its time in CPU.
TEST(DelayMs, LastsAtLeastTheWaitAndSleepsThroughMostOfIt) {
  using SteadyClock = std::chrono::steady_clock;
  constexpr int kWaits = 8;
  constexpr std::uint32_t kWaitMs = 5;
  const double cpuBefore = ThreadCpuMs();
  for (int i = 0; i < kWaits; ++i) {
    const auto begin = SteadyClock::now();
    DelayMs(kWaitMs);
    EXPECT_GE(SteadyClock::now() - begin, std::chrono::milliseconds(kWaitMs));
  }
  const double cpuMs = ThreadCpuMs() - cpuBefore;
  EXPECT_LT(cpuMs, 0.2 * kWaits * kWaitMs);
}

TEST(DelayMs, ZeroReturnsAtOnce) {
  const auto begin = std::chrono::steady_clock::now();
  DelayMs(0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1));
}

}  // namespace
}  // namespace rq::platform
