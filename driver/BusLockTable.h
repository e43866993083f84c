#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace rq::driver {

// Which client connection a request came on. The in-process test handle has one.
using ConnectionId = std::uint64_t;
inline constexpr ConnectionId kInProcessConnection = 0;

// Where the lock table takes its time from; tests advance a virtual clock instead
// of waiting.
class LockClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LockClock() = default;
  virtual TimePoint Now() = 0;
  // Waits on `wake` for at most `slice`; may return early.
  virtual void Wait(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                    std::chrono::milliseconds slice) = 0;
};

// The daemon's locks of its buses, one table for all connections. A key (an SMBus
// host's base port, the index port of an index/data pair) is held by at most one
// connection at a time, for a whole register sequence of its client, so that two
// programs never interleave their host-register sequences. A connection may take a
// key it holds again (the takes are counted); its keys die with it.
class BusLockTable {
 public:
  // Long enough to outlast a request to a hung board, which waits for the clock
  // generator's watchdog (at most 40 s) to reset it.
  static constexpr std::chrono::milliseconds kTakeBound{45'000};

  explicit BusLockTable(LockClock* clock = nullptr, std::chrono::milliseconds bound = kTakeBound);

  // Waits until `key` is free or held by `connection`, at most the bound; false
  // when it is still held by another then, or when `connection` is closed meanwhile.
  bool Take(ConnectionId connection, std::uint32_t key);
  // False when `connection` does not hold `key`.
  bool Give(ConnectionId connection, std::uint32_t key);
  // Gives up every key of `connection` and fails its pending and later takes, until
  // Forget; for a connection being shut down whose thread may be waiting in Take.
  void Close(ConnectionId connection);
  // Gives up every key of `connection` and forgets that it was closed: its thread
  // has finished.
  void Forget(ConnectionId connection);

 private:
  struct Holder {
    ConnectionId connection;
    unsigned count;
  };
  void ReleaseAll(ConnectionId connection);  // with mutex_ held

  LockClock& clock_;
  const std::chrono::milliseconds bound_;
  std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::uint32_t, Holder> holders_;
  std::set<ConnectionId> closed_;
};

}  // namespace rq::driver
