#pragma once
#include <memory>
#include <string>

#include "sim/Board.h"

namespace rq::sim::testing {

// A board header with no chips; tests append [[chip]] tables.
inline std::string BoardHeader(double maxStableFsb = 148.0, double powerOnFsb = 133.3) {
  return "name = \"test\"\n"
         "[bios]\nmodel = \"TEST-BOARD 1.0\"\n"
         "[cpu]\nmultiplier = 18\nmax_stable_fsb = " +
         std::to_string(maxStableFsb) + "\npower_on_fsb = " + std::to_string(powerOnFsb) + "\n";
}

// A chip of type "test-clock" (registered by the test program): it sets the CPU's
// FSB from its `power_on_fsb` key on every power-on reset, as a clock generator
// does, and counts its resets.
class TestClock : public Chip {
 public:
  TestClock(Board& board, double powerOnFsb) : board_(board), powerOnFsb_(powerOnFsb) {}
  std::string Name() const override { return "test-clock"; }
  void PowerOnReset() override {
    ++resets;
    board_.Processor().SetFsb(powerOnFsb_);
  }
  int resets = 0;

 private:
  Board& board_;
  double powerOnFsb_;
};

}  // namespace rq::sim::testing
