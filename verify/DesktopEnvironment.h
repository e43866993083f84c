#pragma once
#include <map>
#include <memory>
#include <mutex>

#include "platform/Process.h"
#include "verify/VerifyEnvironment.h"

namespace rq::verify {

// The stress programs on the real desktop: started beside the program, from the
// installed helper folder or from the search path, closed through their windows'
// titles, waited for as processes. The windows part is left to the program's window
// layer.
class DesktopEnvironment : public VerifyEnvironment {
 public:
  std::optional<ProcessId> StartProgram(const std::string& commandLine) override;
  void CloseWindows(const std::string& title) override;
  std::vector<ProcessId> WaitForPrograms(const std::vector<ProcessId>& processes,
                                         std::chrono::milliseconds timeout) override;
  void KillProgram(ProcessId process) override;
  bool Sleep(std::uint32_t ms, const std::function<bool()>& stop) override;

 private:
  std::mutex mutex_;
  std::map<ProcessId, std::unique_ptr<platform::Process>> processes_;
};

}  // namespace rq::verify
