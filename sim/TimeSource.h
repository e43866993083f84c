#pragma once
#include <chrono>

namespace rq::sim {

// The board's sense of time: real time in the daemon, a hand-driven clock in tests.
class TimeSource {
 public:
  using Duration = std::chrono::nanoseconds;
  virtual ~TimeSource() = default;
  // Time since an arbitrary, fixed origin.
  virtual Duration Now() const = 0;
};

class RealTimeSource final : public TimeSource {
 public:
  Duration Now() const override { return std::chrono::steady_clock::now() - origin_; }

 private:
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

class ManualTimeSource final : public TimeSource {
 public:
  Duration Now() const override { return now_; }
  void Advance(Duration by) { now_ += by; }

 private:
  Duration now_{};
};

}  // namespace rq::sim
