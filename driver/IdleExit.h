#pragma once
#include <chrono>

namespace rq::sim {
class Board;
}

namespace rq::driver {

class RequestServer;

// When a per-user daemon on the virtual board has nothing left to do: nobody
// connected and the board's watchdog not armed (an armed watchdog is a clock
// change under watch, whose reset must still come) for the whole limit. Fed the
// time on every tick, so that tests drive it on a clock of their own.
class IdleExit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kDefaultLimit{10};

  IdleExit(RequestServer& server, sim::Board& board, Clock::time_point start,
           Clock::duration limit = kDefaultLimit)
      : server_(server), board_(board), lastBusy_(start), limit_(limit) {}

  // True once the daemon has been idle from its last busy look until `now`.
  // Takes the board's lock: the caller must not hold it.
  bool Due(Clock::time_point now);

 private:
  RequestServer& server_;
  sim::Board& board_;
  Clock::time_point lastBusy_;
  Clock::duration limit_;
};

}  // namespace rq::driver
