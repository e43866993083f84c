#pragma once
// What the clock generator classes share beyond the PLL arithmetic: the platform
// gates of detection, frequency bands, and the bus lock around register sequences.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "devices/SystemFacts.h"

namespace rq::devices::clockgen {

// The frequencies named by the 32 settings of a frequency-select field.
using FrequencyTable = std::array<double, 32>;

// Which north bridges a chip is found beside: it always needs a detected one.
enum class K7Rule { kAny, kRequired, kExcluded };

struct HostRange {
  std::int16_t first;
  std::int16_t last;
};
inline constexpr HostRange kIntelHosts{100, 299};
inline constexpr HostRange kViaHosts{300, 499};
inline constexpr HostRange kSisHosts{500, 699};

struct PlatformGate {
  K7Rule k7;
  HostRange hosts;
  const char* boardModel = nullptr;  // when set, the board model must equal it exactly
};

// True when the system facts and the host kind satisfy `gate`.
bool PassesGate(const PlatformGate& gate, std::int16_t hostKind);

// A half-open or closed interval of FSB values with the value chosen inside it.
struct Band {
  double low;
  bool lowInclusive;
  double high;
  bool highInclusive;
  double value;
};

// Bands tried in order; the first holding f wins, else `otherwise`.
struct BandTable {
  std::vector<Band> bands;
  double otherwise;
  double Pick(double f) const;
};

// Constructors for the common band shapes.
constexpr Band AtMost(double high, double value) { return {-1e300, true, high, true, value}; }
constexpr Band Below(double high, double value) { return {-1e300, true, high, false, value}; }
constexpr Band From(double low, double high, double value) { return {low, true, high, false, value}; }
constexpr Band Above(double low, double high, double value) { return {low, false, high, false, value}; }
constexpr Band Closed(double low, double high, double value) { return {low, true, high, true, value}; }

// Holds the bus semaphore for one register sequence; the Cypress parts need 10 ms
// of quiet after their last transfer before another master may use the bus. A
// sequence opened while another is open on the same thread joins it: the outer one
// holds the bus, and settles at its end if any joined sequence asked for it.
class BusSequence {
 public:
  explicit BusSequence(bool settleBeforeRelease = false);
  ~BusSequence();
  BusSequence(const BusSequence&) = delete;
  BusSequence& operator=(const BusSequence&) = delete;

  // False when the bus could not be had: the controller then refuses every transfer.
  bool Held() const { return outer_ != nullptr ? outer_->Held() : lock_->Held(); }

  static constexpr unsigned kCypressSettleMs = 10;

 private:
  std::optional<SmbusLock> lock_;
  bool settle_;
  BusSequence* outer_;
};

// Clamps a rounded PLL count into what its register field holds; nullopt for a
// target that is not a number at all (the chip is then left alone).
std::optional<unsigned> FitCount(double rounded, unsigned lowest, unsigned highest);

}  // namespace rq::devices::clockgen
