#include "sim/Cpu.h"

#include <stdexcept>

#include "sim/Board.h"

namespace rq::sim {

namespace {
// Rounding of the profile's decimal FSB values must not turn "148.0" into a hang.
constexpr double kFsbTolerance = 1e-6;
constexpr double kNsPerUs = 1000.0;
}  // namespace

Cpu::Cpu(Board& board, double multiplier, double maxStableFsb)
    : board_(board), multiplier_(multiplier), maxStableFsb_(maxStableFsb) {
  if (!(multiplier > 0.0) || !(maxStableFsb > 0.0)) {
    throw std::invalid_argument("the CPU needs a positive multiplier and highest stable FSB");
  }
  tscBaseNs_ = board_.Time().Now().count();
}

double Cpu::CountSince(std::int64_t ns) const {
  // MHz is cycles per microsecond.
  return static_cast<double>(ns) / kNsPerUs * CoreMhz();
}

double Cpu::MaxStableFsb() const { return maxStableFsb_ + board_.Analogue().StableFsbHeadroomMhz(); }

void Cpu::SetFsb(double mhz) {
  // The heat of the old clock up to now belongs to the old clock.
  board_.Analogue().Settle();
  const std::int64_t now = board_.Time().Now().count();
  tscBase_ += CountSince(now - tscBaseNs_);
  tscBaseNs_ = now;
  fsb_ = mhz < 0.0 ? 0.0 : mhz;
  if (fsb_ > MaxStableFsb() + kFsbTolerance) {
    board_.Hang();
  }
}

std::uint64_t Cpu::TimeStampCounter() const {
  return static_cast<std::uint64_t>(tscBase_ + CountSince(board_.Time().Now().count() - tscBaseNs_));
}

void Cpu::PowerOnReset(double powerOnFsb) {
  tscBase_ = 0.0;
  tscBaseNs_ = board_.Time().Now().count();
  SetFsb(powerOnFsb);
}

nlohmann::json Cpu::Inspect() const {
  return {{"fsbMhz", fsb_},
          {"multiplier", multiplier_},
          {"coreMhz", CoreMhz()},
          {"maxStableFsbMhz", MaxStableFsb()},
          {"ratedMaxStableFsbMhz", maxStableFsb_},
          {"timeStampCounter", TimeStampCounter()}};
}

}  // namespace rq::sim
