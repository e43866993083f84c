#include "verify/VerifySystem.h"

#include <chrono>

namespace rq::verify {

VerifySystem::VerifySystem(engine::MSupport& support, VerifyEnvironment& environment,
                           const std::atomic<bool>& abort)
    : support_(support), env_(environment), abort_(abort) {}

VerifySystem::~VerifySystem() { Shutdown(); }

void VerifySystem::Execute() {
  // Apply the clock under test afresh, with the watchdog armed until the pass ends.
  // A refused change (nothing on disk to recover from) runs no pass: it proves nothing.
  if (!support_.ChangeFsb(support_.hwDefaultClock, true) || !support_.ChangeFsb(support_.fsbClock, false)) {
    Cancel();
    return;
  }

  StartPrograms();
  const auto terminated = [this] { return abort_ || Terminated(); };
  env_.Sleep(kStartupWaitMs, terminated);

  env_.ShowStatusWindow(*this);
  for (int second = 0; second < kTestSeconds && !StopRequested(); ++second) {
    env_.Sleep(1000, [this] { return StopRequested(); });
  }

  ClosePrograms();
  support_.StopWatchdogThread();
  env_.CloseStatusWindow();
}

void VerifySystem::StartPrograms() {
  for (const TestProgram& program : kTestPrograms) {
    if (auto process = env_.StartProgram(program.commandLine)) started_.push_back(*process);
  }
}

void VerifySystem::ClosePrograms() {
  std::vector<VerifyEnvironment::ProcessId> running = started_;
  // The close request goes out again every second: a program that was slow to show
  // its window still gets one.
  for (int second = 0; second < kCloseGraceSeconds && !running.empty(); ++second) {
    for (const TestProgram& program : kTestPrograms) env_.CloseWindows(program.windowTitle);
    running = env_.WaitForPrograms(running, std::chrono::seconds(1));
  }
  for (VerifyEnvironment::ProcessId process : running) env_.KillProgram(process);
  if (!running.empty()) env_.WaitForPrograms(running, std::chrono::seconds(5));
}

}  // namespace rq::verify
