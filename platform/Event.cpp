#include "platform/Event.h"

#include <chrono>

namespace rq::platform {

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}

void Event::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  if (manualReset_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto isSet = [this] { return set_; };
  if (timeoutMs == kInfinite) {
    cv_.wait(lock, isSet);
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) {
    return false;
  }
  if (!manualReset_) set_ = false;
  return true;
}

}  // namespace rq::platform
