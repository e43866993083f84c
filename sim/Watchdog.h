#pragma once
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace rq::sim {

class Board;

// The clock generator's hardware watchdog, as a board-level countdown. A clock
// generator chip translates its register writes into these calls. When an enabled
// watchdog runs out, the board gets a power-on reset.
class Watchdog {
 public:
  explicit Watchdog(Board& board) : board_(board) {}
  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  std::chrono::milliseconds Timeout() const { return timeout_; }
  // Enabling starts a fresh count from the full time-out; disabling stops it.
  void Enable(bool on);
  bool Enabled() const { return enabled_; }
  // Time left before the reset; zero when disabled.
  std::chrono::milliseconds Remaining() const;
  // Called from Board::Tick; resets the board when the count has run out.
  void Check();
  // Power-on state: disabled, no time-out programmed.
  void PowerOnReset();
  // How many times the count ran out and reset the board (kept across resets).
  std::uint64_t Expiries() const { return expiries_; }
  nlohmann::json Inspect() const;

 private:
  Board& board_;
  std::chrono::milliseconds timeout_{0};
  bool enabled_ = false;
  std::chrono::nanoseconds deadline_{0};
  std::uint64_t expiries_ = 0;
};

}  // namespace rq::sim
