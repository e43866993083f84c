#include "app/DesktopVerifyEnvironment.h"

#include <thread>

#include "app/TMainForm.h"
#include "app/TOverclockForm.h"
#include "app/TStatusMsgForm.h"
#include "platform/MessageBox.h"
#include "platform/TopWindows.h"
#include "platform/WindowThread.h"
#include "verify/VerifySystem.h"

namespace rq::app {
namespace {

constexpr std::uint32_t kSleepSliceMs = 20;

}  // namespace

DesktopVerifyEnvironment::DesktopVerifyEnvironment() = default;
DesktopVerifyEnvironment::~DesktopVerifyEnvironment() = default;

std::optional<verify::VerifyEnvironment::ProcessId> DesktopVerifyEnvironment::StartProgram(
    const std::string& commandLine) {
  std::unique_ptr<platform::Process> process = platform::Process::Start(commandLine);
  if (!process) return std::nullopt;
  const ProcessId id = process->Pid();
  std::lock_guard lock(mutex_);
  processes_[id] = std::move(process);
  return id;
}

void DesktopVerifyEnvironment::CloseWindows(const std::string& title) { platform::CloseTopWindows(title); }

std::vector<verify::VerifyEnvironment::ProcessId> DesktopVerifyEnvironment::WaitForPrograms(
    const std::vector<ProcessId>& processes, std::chrono::milliseconds timeout) {
  std::vector<platform::Process*> handles;
  {
    std::lock_guard lock(mutex_);
    for (ProcessId id : processes)
      if (auto found = processes_.find(id); found != processes_.end()) handles.push_back(found->second.get());
  }
  platform::WaitForProcesses(handles, static_cast<std::uint32_t>(timeout.count()));
  std::vector<ProcessId> running;
  std::lock_guard lock(mutex_);
  for (ProcessId id : processes) {
    auto found = processes_.find(id);
    if (found == processes_.end()) continue;
    if (found->second->Ended()) {
      processes_.erase(found);  // the handle is closed once the program has ended
    } else {
      running.push_back(id);
    }
  }
  return running;
}

void DesktopVerifyEnvironment::KillProgram(ProcessId process) {
  std::lock_guard lock(mutex_);
  if (auto found = processes_.find(process); found != processes_.end()) found->second->Kill();
}

void DesktopVerifyEnvironment::SetWindowsEnabled(bool enabled) {
  platform::Synchronize([enabled] {
    if (TMainForm* main = AppForms().mainForm) main->setEnabled(enabled);
    if (TOverclockForm* overclock = AppForms().overclockForm)
      overclock->setEnabled(enabled && overclock->open);
  });
}

void DesktopVerifyEnvironment::UpdateClockLabel() {
  platform::Synchronize([] {
    if (TOverclockForm* overclock = AppForms().overclockForm) overclock->ShowClock();
  });
}

void DesktopVerifyEnvironment::ShowStatusWindow(verify::VerifySystem& pass) {
  platform::Synchronize([this, &pass] {
    delete status_;
    // Owned by the main window; the pass outlives it (it closes the window itself,
    // and once the program closes no input reaches the window any more).
    status_ = new TStatusMsgForm(AppForms().mainForm, [&pass] { pass.Cancel(); });
    status_->show();
    status_->raise();
    status_->activateWindow();
  });
}

void DesktopVerifyEnvironment::CloseStatusWindow() {
  platform::Synchronize([this] {
    delete status_;
    status_ = nullptr;
  });
}

void DesktopVerifyEnvironment::ShowVerifiedMessage() {
  platform::MessageBox("Current CPU clock has been verified successfully!", "Result",
                       platform::kMbIconInformation);
}

bool DesktopVerifyEnvironment::Sleep(std::uint32_t ms, const std::function<bool()>& stop) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (stop && stop()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSleepSliceMs));
  }
  return !(stop && stop());
}

}  // namespace rq::app
