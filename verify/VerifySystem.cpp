#include "verify/VerifySystem.h"

#include <chrono>

namespace rq::verify {

VerifySystem::VerifySystem(engine::MSupport& support, VerifyEnvironment& environment,
                           const std::atomic<bool>& abort)
    : support_(support), env_(environment), abort_(abort) {}

VerifySystem::~VerifySystem() { Shutdown(); }

void VerifySystem::Execute() {
  // The alarm limits as the pass starts (the board's section, read once per pass).
  // A CPU already past its limit is not put under test at all.
  alarms_.LoadLimits(engine::BoardAlarmSettings(), engine::LogAlarm);
  CheckTemperatures();
  if (overheated_) return;
  // Apply the clock under test afresh, with the watchdog armed until the pass ends.
  // A refused change (nothing on disk to recover from) runs no pass: it proves nothing.
  if (!support_.ChangeFsb(support_.hwDefaultClock, true) || !support_.ChangeFsb(support_.fsbClock, false)) {
    Cancel();
    return;
  }

  StartPrograms();
  WaitWatchingTemperatures(kStartupWaitMs / 1000, [this] { return overheated_ || abort_ || Terminated(); });
  if (!overheated_) {
    env_.ShowStatusWindow(*this);
    WaitWatchingTemperatures(kTestSeconds, [this] { return StopRequested(); });
  }

  ClosePrograms();
  support_.StopWatchdogThread();
  env_.CloseStatusWindow();
}

void VerifySystem::WaitWatchingTemperatures(int seconds, const std::function<bool()>& stop) {
  for (int second = 0; second < seconds && !stop(); ++second) {
    env_.Sleep(1000, stop);
    CheckTemperatures();
  }
}

void VerifySystem::CheckTemperatures() {
  if (overheated_ || !support_.hardwareMonitor || !alarms_.WatchesTemperatures()) return;
  const engine::SensorReadings readings = engine::ReadWatchedTemperatures(*support_.hardwareMonitor, alarms_);
  for (const engine::AlarmChange& change : alarms_.Update(readings)) {
    if (!change.entered) continue;
    overheated_ = engine::DescribeAlarmChange(change, engine::SensorName(change.sensor));
    engine::LogAlarm("verification stopped: " + *overheated_);
    return;
  }
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
