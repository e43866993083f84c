#include "engine/DisableWDThread.h"

#include <chrono>
#include <utility>

namespace rq::engine {

DisableWDThread::DisableWDThread(devices::I2cClockGenIo* clockGenerator,
                                 std::function<Mark(bool)> writeInWatch, Timing& timing)
    : clockGenerator_(clockGenerator), writeInWatch_(std::move(writeInWatch)), timing_(timing) {}

DisableWDThread::~DisableWDThread() { Stop(); }

void DisableWDThread::Arm() {
  if (clockGenerator_ == nullptr) return;
  clockGenerator_->SetWatchdogTime(kWatchdogSeconds);
  clockGenerator_->EnableWatchdog(true);
}

void DisableWDThread::Execute() {
  running_ = true;
  Arm();
  const Mark mark = writeInWatch_(true);
  if (mark == Mark::Failed) {
    // Nothing on disk would bring the machine back after a reset: take the watchdog
    // back and let the caller refuse the change. The file keeps what it held.
    if (clockGenerator_ != nullptr) clockGenerator_->EnableWatchdog(false);
    markFailed_ = true;
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    changed_.notify_all();
    running_ = false;
    return;
  }
  markSet_ = mark == Mark::Set;
  {
    std::lock_guard lock(mutex_);
    armed_ = true;
    accepting_ = !Terminated();
  }
  changed_.notify_all();

  int count = kCountReload;
  for (;;) {
    if (autoDisarm_ && count == 0) {
      // Decide under the lock, so that a change handed over at this very moment is
      // either seen here (and watched) or refused (and its caller starts afresh).
      std::lock_guard lock(mutex_);
      if (requested_ == acknowledged_) {
        accepting_ = false;
        break;
      }
    }
    const bool signalled = timing_.WaitForEvent(event_, kTickMs);
    if (Terminated()) break;
    if (signalled) {
      count = kCountReload;
      if (clockGenerator_ != nullptr) {
        clockGenerator_->EnableWatchdog(false);
        clockGenerator_->EnableWatchdog(true);
      }
      {
        std::lock_guard lock(mutex_);
        acknowledged_ = requested_;
      }
      changed_.notify_all();
    }
    if (autoDisarm_ && count > 0) --count;
  }

  {
    std::lock_guard lock(mutex_);
    accepting_ = false;
    ended_ = true;
  }
  changed_.notify_all();
  // Disarm first, then clear the mark: the mark must stand for as long as the
  // watchdog may still fire, or a hang in between would pass for a clean run.
  if (clockGenerator_ != nullptr) clockGenerator_->EnableWatchdog(false);
  if (markSet_) writeInWatch_(false);
  running_ = false;
}

bool DisableWDThread::WaitUntilArmed() {
  if (!Started()) return false;
  std::unique_lock lock(mutex_);
  // Finished() is not announced through changed_ (a thread terminated before it
  // ran never reaches Execute), hence the periodic look.
  while (!armed_ && !ended_ && !Finished()) changed_.wait_for(lock, std::chrono::milliseconds(10));
  return armed_;
}

bool DisableWDThread::Rearm(bool autoDisarm) {
  std::unique_lock lock(mutex_);
  if (!accepting_) return false;
  const std::uint64_t ticket = ++requested_;
  autoDisarm_ = autoDisarm;
  event_.Set();
  changed_.wait(lock, [&] { return acknowledged_ >= ticket || ended_; });
  return acknowledged_ >= ticket;
}

void DisableWDThread::Stop() {
  Terminate();
  event_.Set();
  WaitFor();
  // A thread that never ran leaves nobody waiting for it.
  {
    std::lock_guard lock(mutex_);
    accepting_ = false;
    ended_ = true;
  }
  changed_.notify_all();
}

}  // namespace rq::engine
