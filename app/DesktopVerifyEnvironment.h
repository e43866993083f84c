#pragma once
#include <map>
#include <memory>
#include <mutex>

#include "platform/Process.h"
#include "verify/VerifyEnvironment.h"

namespace rq::app {

class TStatusMsgForm;

// What a verification needs from the desktop and from this program's windows:
// stress programs as child processes, their windows found by title, and every
// window change carried out on the window thread.
class DesktopVerifyEnvironment : public verify::VerifyEnvironment {
 public:
  DesktopVerifyEnvironment();
  ~DesktopVerifyEnvironment() override;

  std::optional<ProcessId> StartProgram(const std::string& commandLine) override;
  void CloseWindows(const std::string& title) override;
  std::vector<ProcessId> WaitForPrograms(const std::vector<ProcessId>& processes,
                                         std::chrono::milliseconds timeout) override;
  void KillProgram(ProcessId process) override;

  void SetWindowsEnabled(bool enabled) override;
  void UpdateClockLabel() override;
  void ShowStatusWindow(verify::VerifySystem& pass) override;
  void CloseStatusWindow() override;
  void ShowVerifiedMessage() override;

  bool Sleep(std::uint32_t ms, const std::function<bool()>& stop) override;

 private:
  std::mutex mutex_;
  std::map<ProcessId, std::unique_ptr<platform::Process>> processes_;
  // Touched on the window thread only.
  TStatusMsgForm* status_ = nullptr;
};

}  // namespace rq::app
