#pragma once
#include <cstdint>

namespace rq::sim {

class Board;

// The board's processor: it runs at FSB x multiplier and survives any FSB up to
// its highest stable one. Beyond that the machine hangs. The time-stamp counter
// advances at the core clock, integrated over every clock change.
class Cpu {
 public:
  Cpu(Board& board, double multiplier, double maxStableFsb);
  double Multiplier() const { return multiplier_; }
  double MaxStableFsb() const { return maxStableFsb_; }
  double Fsb() const { return fsb_; }
  double CoreMhz() const { return fsb_ * multiplier_; }
  // Called by the clock generator whenever its PLL registers change the bus clock.
  void SetFsb(double mhz);
  std::uint64_t TimeStampCounter() const;
  void PowerOnReset(double powerOnFsb);

 private:
  Board& board_;
  double multiplier_;
  double maxStableFsb_;
  double fsb_ = 0.0;
  // TSC value and time at the last clock change; the counter runs on from there.
  mutable double tscBase_ = 0.0;
  mutable std::int64_t tscBaseNs_ = 0;
};

}  // namespace rq::sim
