#include "verify/VerifyThreads.h"

#include <algorithm>

#include "engine/Formatting.h"
#include "verify/VerifySystem.h"

namespace rq::verify {

std::unique_ptr<VerifySystem> VerifyThread::RunPass() {
  auto pass = std::make_unique<VerifySystem>(support_, env_, abort_);
  pass->Start();
  pass->WaitFor();
  return pass;
}

void VerifyThread::ReturnClock(double clock) {
  support_.ChangeFsb(clock, true);
  support_.fsbClock = clock;
  env_.UpdateClockLabel();
}

void VerifyThread::ReportOverheat(const VerifySystem& pass) {
  if (!pass.Overheated()) return;
  env_.ShowFailedMessage("Current CPU clock has not been verified: " + *pass.Overheated() +
                         ". The test was stopped and the CPU clock set back to " +
                         engine::FloatToText(support_.fsbClock) + " MHz.");
}

SingleVerifyThread::~SingleVerifyThread() { Shutdown(); }

void SingleVerifyThread::Execute() {
  env_.SetWindowsEnabled(false);
  const std::unique_ptr<VerifySystem> pass = RunPass();
  // A pass cut short by the program closing proves nothing either.
  if (!pass->Failed() && !StopRequested()) {
    support_.SaveSafeFreq();
    env_.ShowVerifiedMessage();
  } else if (pass->Overheated()) {
    // Too hot at this clock: back to the safe clock (the default when none is
    // stored), never up to it.
    ReturnClock(std::min<double>(support_.fsbClock, support_.GetSafeFreq(false)));
    ReportOverheat(*pass);
  }
  env_.SetWindowsEnabled(true);
}

AutoVerifyThread::~AutoVerifyThread() { Shutdown(); }

double AutoVerifyThread::NextClock(double present, double hardwareDefault) {
  return hardwareDefault + 10 > present ? present + 2 : present + 1;
}

void AutoVerifyThread::Execute() {
  env_.SetWindowsEnabled(false);
  double lastGood = support_.fsbClock;
  std::unique_ptr<VerifySystem> failed;
  for (;;) {
    lastGood = support_.fsbClock;
    const double next = NextClock(support_.fsbClock, support_.hwDefaultClock);
    support_.fsbClock = next;
    if (!support_.ChangeFsb(next, true)) break;  // refused: the user has been told
    env_.UpdateClockLabel();

    std::unique_ptr<VerifySystem> pass = RunPass();
    // Closing the program ends the search like Cancel, and so does a temperature
    // past its limit: the clock under test was not proven, so the board goes back
    // to the last one that was.
    if (pass->Failed() || StopRequested()) {
      failed = std::move(pass);
      break;
    }
    support_.SaveSafeFreq();
    support_.RefreshClocks();
  }
  ReturnClock(lastGood);
  if (failed) ReportOverheat(*failed);
  env_.SetWindowsEnabled(true);
}

bool Verification::StartSingle() { return Launch(std::make_unique<SingleVerifyThread>(support_, env_)); }

bool Verification::StartAuto() { return Launch(std::make_unique<AutoVerifyThread>(support_, env_)); }

bool Verification::Launch(std::unique_ptr<VerifyThread> thread) {
  std::lock_guard lock(mutex_);
  if (thread_ && !thread_->Finished()) return false;
  thread_ = std::move(thread);  // a finished predecessor is freed here
  thread_->Start();
  return true;
}

bool Verification::Running() const {
  std::lock_guard lock(mutex_);
  return thread_ && !thread_->Finished();
}

void Verification::Stop() {
  VerifyThread* thread = nullptr;
  {
    std::lock_guard lock(mutex_);
    thread = thread_.get();
  }
  if (thread == nullptr) return;
  // The thread stays owned (and so counts as running) until it has ended: a new
  // verification cannot start beside one that is still winding down.
  thread->RequestStop();
  thread->Resume();
  thread->WaitFor();
}

}  // namespace rq::verify
