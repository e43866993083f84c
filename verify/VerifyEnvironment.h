#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rq::verify {

class VerifySystem;

// Everything a test pass needs from outside the system object: the desktop (the
// stress programs and their windows), the program's own windows, and time. The
// program plugs in the real desktop and its windows; tests plug in fakes.
class VerifyEnvironment {
 public:
  using ProcessId = int;
  virtual ~VerifyEnvironment() = default;

  // --- the stress programs ------------------------------------------------------
  // Starts a program by command line; nothing when it cannot be started.
  virtual std::optional<ProcessId> StartProgram(const std::string& commandLine) = 0;
  // Sends a close request to every top-level window with this exact title.
  virtual void CloseWindows(const std::string& title) = 0;
  // Waits until every process has ended or the time-out passes; returns those still running.
  virtual std::vector<ProcessId> WaitForPrograms(const std::vector<ProcessId>& processes,
                                                 std::chrono::milliseconds timeout) = 0;
  // Ends a program that ignored its close request.
  virtual void KillProgram(ProcessId process) = 0;

  // --- the program's windows (all run on the window thread) -------------------------
  virtual void SetWindowsEnabled(bool enabled) = 0;
  virtual void UpdateClockLabel() = 0;
  virtual void ShowStatusWindow(VerifySystem& pass) = 0;
  virtual void CloseStatusWindow() = 0;
  virtual void ShowVerifiedMessage() = 0;
  // The result box of a pass that failed, saying why.
  virtual void ShowFailedMessage(const std::string& text) = 0;

  // --- time ---------------------------------------------------------------------------
  // Sleeps `ms` milliseconds, returning early (false) as soon as `stop` says so.
  virtual bool Sleep(std::uint32_t ms, const std::function<bool()>& stop) = 0;
};

}  // namespace rq::verify
