#include "driver/BusLockTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "driver/Dispatcher.h"
#include "driver/FakeBackend.h"
#include "protocol/Protocol.h"

namespace rq::driver {
namespace {

using namespace std::chrono_literals;

// Time passes only while a take waits.
class VirtualLockClock final : public LockClock {
 public:
  TimePoint Now() override { return TimePoint(waited.load()); }
  void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
            std::chrono::milliseconds slice) override {
    waited = waited.load() + slice;
    wake.wait_for(lock, 1ms);  // lets the test's thread in
  }
  std::atomic<TimePoint::duration> waited{};
};

// Takes are counted per connection, only the holder gives, and a take of a held key
// fails after the bound; through the request decoder, as a client sends them.
TEST(BusLockTableTest, OneConnectionHoldsAKeyUntilItGivesItAsOftenAsItTookIt) {
  testing::FakeBackend backend;
  VirtualLockClock clock;
  BusLockTable table(&clock);
  Dispatcher dispatcher(backend, &table);
  auto request = [&](std::uint32_t key, std::uint8_t operation, ConnectionId connection) {
    std::vector<std::uint8_t> buffer{0, 0, 0, 0, operation, 0, 0, 0};
    protocol::StoreU32(buffer.data(), 0, key);
    return dispatcher.Dispatch(protocol::kIoctlBusLock, buffer, connection);
  };
  EXPECT_TRUE(request(0x400, 1, 1) && request(0x400, 1, 1) && request(0x295, 1, 2));
  EXPECT_FALSE(request(0x400, 0, 2) || request(0x400, 2, 1) || request(0x10000, 1, 1));
  EXPECT_TRUE(request(0x400, 0, 1));
  EXPECT_FALSE(request(0x400, 1, 2));  // still held once
  EXPECT_EQ(clock.waited.load(), 45s);
  EXPECT_TRUE(request(0x400, 0, 1) && !request(0x400, 0, 1) && request(0x400, 1, 2));
}

// A waiting take ends when the holder gives or goes; a dropped waiter's take fails.
TEST(BusLockTableTest, AWaitingTakeEndsWhenTheHolderGivesOrGoes) {
  const std::pair<void (*)(BusLockTable&), bool> cases[] = {
      {[](BusLockTable& t) { t.Give(1, 0x400); }, true},
      {[](BusLockTable& t) { t.Forget(1); }, true},
      {[](BusLockTable& t) { t.Close(1); }, true},
      {[](BusLockTable& t) { t.Close(2); }, false},
  };
  for (const auto& [release, got] : cases) {
    VirtualLockClock clock;
    BusLockTable table(&clock);
    ASSERT_TRUE(table.Take(1, 0x400));
    auto waiting = std::async(std::launch::async, [&] { return table.Take(2, 0x400); });
    while (clock.waited.load() < 1s && waiting.wait_for(1ms) == std::future_status::timeout) continue;
    release(table);
    EXPECT_EQ(waiting.get(), got);
    EXPECT_LT(clock.waited.load(), 45s);
  }
}

}  // namespace
}  // namespace rq::driver
