#include "sim/Watchdog.h"

#include "sim/Board.h"

namespace rq::sim {

void Watchdog::Enable(bool on) {
  enabled_ = on;
  if (on) {
    deadline_ = board_.Time().Now() + timeout_;
  }
}

std::chrono::milliseconds Watchdog::Remaining() const {
  if (!enabled_) {
    return std::chrono::milliseconds(0);
  }
  const auto left = deadline_ - board_.Time().Now();
  if (left <= std::chrono::nanoseconds(0)) {
    return std::chrono::milliseconds(0);
  }
  // Round up: a count that has not run out never reads as zero.
  return std::chrono::ceil<std::chrono::milliseconds>(left);
}

void Watchdog::Check() {
  if (enabled_ && board_.Time().Now() >= deadline_) {
    ++expiries_;
    board_.PowerOnReset();
  }
}

void Watchdog::PowerOnReset() {
  enabled_ = false;
  timeout_ = std::chrono::milliseconds(0);
  deadline_ = std::chrono::nanoseconds(0);
}

nlohmann::json Watchdog::Inspect() const {
  return {{"enabled", enabled_},
          {"timeoutMs", timeout_.count()},
          {"remainingMs", Remaining().count()},
          {"expiries", expiries_}};
}

}  // namespace rq::sim
