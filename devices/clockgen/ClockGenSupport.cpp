#include "devices/clockgen/ClockGenSupport.h"

#include <cmath>
#include <string>

#include "devices/northbridge/PciMchIo.h"
#include "platform/Clock.h"

namespace rq::devices::clockgen {

bool PassesGate(const PlatformGate& gate, std::int16_t hostKind) {
  const SystemFacts& system = CurrentSystem();
  if (system.northBridge == nullptr) return false;
  const bool k7 = system.northBridge->K7Platform();
  if (gate.k7 == K7Rule::kRequired && !k7) return false;
  if (gate.k7 == K7Rule::kExcluded && k7) return false;
  if (gate.boardModel != nullptr && system.boardModel != gate.boardModel) return false;
  return hostKind >= gate.hosts.first && hostKind <= gate.hosts.last;
}

double BandTable::Pick(double f) const {
  for (const Band& band : bands) {
    const bool aboveLow = band.lowInclusive ? f >= band.low : f > band.low;
    const bool belowHigh = band.highInclusive ? f <= band.high : f < band.high;
    if (aboveLow && belowHigh) return band.value;
  }
  return otherwise;
}

namespace {
thread_local BusSequence* openSequence = nullptr;
}  // namespace

BusSequence::BusSequence(bool settleBeforeRelease) : settle_(settleBeforeRelease), outer_(openSequence) {
  if (outer_ != nullptr) {
    outer_->settle_ = outer_->settle_ || settle_;
    return;
  }
  lock_.emplace();
  openSequence = this;
}

BusSequence::~BusSequence() {
  if (outer_ != nullptr) return;
  if (settle_ && lock_->Held()) platform::Sleep(kCypressSettleMs);
  openSequence = nullptr;
  lock_.reset();
}

std::optional<unsigned> FitCount(double rounded, unsigned lowest, unsigned highest) {
  if (std::isnan(rounded)) return std::nullopt;
  if (rounded <= lowest) return lowest;
  if (rounded >= highest) return highest;
  return static_cast<unsigned>(rounded);
}

}  // namespace rq::devices::clockgen
