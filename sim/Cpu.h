#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>

namespace rq::sim {

class Board;

// The board's processor: it runs at FSB x multiplier and survives any FSB up to
// its highest stable one. Beyond that the machine hangs. The time-stamp counter
// advances at the core clock, integrated over every clock change.
//
// The clock generator owns the bus clock: it calls SetFsb from its PowerOnReset
// (the FSB its frequency-select setting gives) and whenever its PLL registers
// change. The board resets the CPU to the profile's power-on FSB before it resets
// the chips, so a board without a clock generator runs at that value.
class Cpu {
 public:
  Cpu(Board& board, double multiplier, double maxStableFsb);
  double Multiplier() const { return multiplier_; }
  // The rated limit plus what a core voltage above the VID buys.
  double MaxStableFsb() const;
  double Fsb() const { return fsb_; }
  double CoreMhz() const { return fsb_ * multiplier_; }
  // Called by the clock generator whenever its PLL registers change the bus clock.
  // An FSB above the highest stable one hangs the board.
  void SetFsb(double mhz);
  std::uint64_t TimeStampCounter() const;
  // The counter starts again from zero, as after a real power-on.
  void PowerOnReset(double powerOnFsb);
  nlohmann::json Inspect() const;

 private:
  double CountSince(std::int64_t ns) const;

  Board& board_;
  double multiplier_;
  double maxStableFsb_;
  double fsb_ = 0.0;
  // TSC value and time at the last clock change; the counter runs on from there.
  double tscBase_ = 0.0;
  std::int64_t tscBaseNs_ = 0;
};

}  // namespace rq::sim
