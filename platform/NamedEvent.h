#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace rq::platform {

// A named auto-reset event that other processes of the same user can signal.
class NamedEvent {
 public:
  // Creates (or opens) the event named `name`, not signalled. Null on failure.
  static std::unique_ptr<NamedEvent> Create(const std::string& name);
  // Signals the event named `name` from any process; false when no process has it open.
  static bool SignalByName(const std::string& name);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  void Set();
  // True when signalled within `timeoutMs` (0xFFFFFFFF waits forever); one wait
  // consumes every signal sent before it.
  bool Wait(std::uint32_t timeoutMs = 0xFFFFFFFF);

 private:
  NamedEvent(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

inline constexpr const char* kExitEventName = "RhomboquestExitSharedEvent";

}  // namespace rq::platform
