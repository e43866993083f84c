#include "verify/VerifyThreads.h"

#include "verify/VerifySystem.h"

namespace rq::verify {

std::unique_ptr<VerifySystem> VerifyThread::RunPass() {
  auto pass = std::make_unique<VerifySystem>(support_, env_, abort_);
  pass->Start();
  pass->WaitFor();
  return pass;
}

SingleVerifyThread::~SingleVerifyThread() { Shutdown(); }

void SingleVerifyThread::Execute() {
  env_.SetWindowsEnabled(false);
  const std::unique_ptr<VerifySystem> pass = RunPass();
  // A pass cut short by the program closing proves nothing either.
  if (!pass->Cancelled() && !StopRequested()) {
    support_.SaveSafeFreq();
    env_.ShowVerifiedMessage();
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
  for (;;) {
    lastGood = support_.fsbClock;
    const double next = NextClock(support_.fsbClock, support_.hwDefaultClock);
    support_.fsbClock = next;
    if (!support_.ChangeFsb(next, true)) break;  // refused: the user has been told
    env_.UpdateClockLabel();

    const std::unique_ptr<VerifySystem> pass = RunPass();
    // Closing the program ends the search like Cancel: the clock under test was
    // not proven, so the board goes back to the last one that was.
    if (pass->Cancelled() || StopRequested()) break;
    support_.SaveSafeFreq();
    support_.RefreshClocks();
  }
  support_.ChangeFsb(lastGood, true);
  support_.fsbClock = lastGood;
  env_.UpdateClockLabel();
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
