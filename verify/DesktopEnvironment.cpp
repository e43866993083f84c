#include "verify/DesktopEnvironment.h"

#include <algorithm>
#include <thread>

#include "platform/TopWindows.h"

namespace rq::verify {

std::optional<VerifyEnvironment::ProcessId> DesktopEnvironment::StartProgram(const std::string& commandLine) {
  std::unique_ptr<platform::Process> process = platform::Process::Start(commandLine);
  if (!process) return std::nullopt;
  const ProcessId pid = process->Pid();
  std::lock_guard lock(mutex_);
  processes_[pid] = std::move(process);
  return pid;
}

void DesktopEnvironment::CloseWindows(const std::string& title) { platform::CloseTopWindows(title); }

std::vector<VerifyEnvironment::ProcessId> DesktopEnvironment::WaitForPrograms(
    const std::vector<ProcessId>& processes, std::chrono::milliseconds timeout) {
  std::vector<platform::Process*> handles;
  {
    std::lock_guard lock(mutex_);
    for (ProcessId pid : processes) {
      auto found = processes_.find(pid);
      if (found != processes_.end()) handles.push_back(found->second.get());
    }
  }
  platform::WaitForProcesses(handles, static_cast<std::uint32_t>(timeout.count()));

  std::vector<ProcessId> running;
  std::lock_guard lock(mutex_);
  for (ProcessId pid : processes) {
    auto found = processes_.find(pid);
    if (found == processes_.end()) continue;
    if (found->second->Ended()) {
      processes_.erase(found);
    } else {
      running.push_back(pid);
    }
  }
  return running;
}

void DesktopEnvironment::KillProgram(ProcessId process) {
  std::lock_guard lock(mutex_);
  auto found = processes_.find(process);
  if (found != processes_.end()) found->second->Kill();
}

bool DesktopEnvironment::Sleep(std::uint32_t ms, const std::function<bool()>& stop) {
  // Short slices, so that Cancel and a closing program are seen at once.
  constexpr std::uint32_t kSliceMs = 20;
  for (std::uint32_t slept = 0; slept < ms; slept += kSliceMs) {
    if (stop()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, ms - slept)));
  }
  return !stop();
}

}  // namespace rq::verify
