#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace rq::platform {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

// An in-process event object: auto-reset (one waiter released per Set, the event
// then clears) or manual-reset (stays set until Reset).
class Event {
 public:
  explicit Event(bool manualReset = false, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when the event was set within `timeoutMs` (kInfinite waits forever).
  bool Wait(std::uint32_t timeoutMs = kInfinite);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manualReset_;
  bool set_;
};

}  // namespace rq::platform
