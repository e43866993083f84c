#include "driver/BusLockTable.h"

#include <algorithm>

namespace rq::driver {
namespace {

// A waiting take looks again at least this often, so that a clock that does not
// wake it (the virtual one) still advances.
constexpr std::chrono::milliseconds kWaitSlice{250};

class SteadyLockClock final : public LockClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
            std::chrono::milliseconds slice) override {
    wake.wait_for(lock, slice);
  }
};

LockClock& SteadyClock() {
  static SteadyLockClock clock;
  return clock;
}

}  // namespace

BusLockTable::BusLockTable(LockClock* clock, std::chrono::milliseconds bound)
    : clock_(clock != nullptr ? *clock : SteadyClock()), bound_(bound) {}

bool BusLockTable::Take(ConnectionId connection, std::uint32_t key) {
  std::unique_lock lock(mutex_);
  const LockClock::TimePoint deadline = clock_.Now() + bound_;
  for (;;) {
    if (closed_.contains(connection)) return false;
    const auto held = holders_.find(key);
    if (held == holders_.end()) {
      holders_.emplace(key, Holder{connection, 1});
      return true;
    }
    if (held->second.connection == connection) {
      ++held->second.count;
      return true;
    }
    const LockClock::TimePoint now = clock_.Now();
    if (now >= deadline) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    clock_.Wait(released_, lock, std::min(left, kWaitSlice));
  }
}

bool BusLockTable::Give(ConnectionId connection, std::uint32_t key) {
  std::lock_guard lock(mutex_);
  const auto held = holders_.find(key);
  if (held == holders_.end() || held->second.connection != connection) return false;
  if (--held->second.count == 0) {
    holders_.erase(held);
    released_.notify_all();
  }
  return true;
}

void BusLockTable::ReleaseAll(ConnectionId connection) {
  std::erase_if(holders_, [connection](const auto& entry) { return entry.second.connection == connection; });
  released_.notify_all();
}

void BusLockTable::Close(ConnectionId connection) {
  std::lock_guard lock(mutex_);
  closed_.insert(connection);
  ReleaseAll(connection);
}

void BusLockTable::Forget(ConnectionId connection) {
  std::lock_guard lock(mutex_);
  closed_.erase(connection);
  ReleaseAll(connection);
}

}  // namespace rq::driver
