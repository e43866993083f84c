#include "platform/WorkerThread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>

namespace rq::platform {

WorkerThread::~WorkerThread() {
  // Derived classes must already have called Shutdown(); this only guards
  // against a thread that was never joined (std::thread would terminate the process).
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void WorkerThread::Start(bool suspended) {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || finished_) return;
  suspended_ = suspended;
  thread_ = std::thread([this] { Run(); });
}

void WorkerThread::Run() {
  if (CheckSuspend()) Execute();
  finished_ = true;
}

void WorkerThread::Suspend() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

void WorkerThread::Resume() {
  {
    std::lock_guard lock(mutex_);
    suspended_ = false;
  }
  cv_.notify_all();
}

bool WorkerThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void WorkerThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
}

void WorkerThread::WaitFor() {
  std::lock_guard join(joinMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkerThread::Shutdown() {
  Terminate();
  WaitFor();
}

bool WorkerThread::SleepMs(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
  cv_.wait(lock, [this] { return !suspended_ || terminated_.load(); });
  return !terminated_;
}

bool WorkerThread::CheckSuspend() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return !suspended_ || terminated_.load(); });
  return !terminated_;
}

void WorkerThread::SetPriority(ThreadPriority priority) {
  if (!thread_.joinable()) return;
  // Real-time scheduling needs privileges; without them the thread keeps its
  // normal priority, which only makes measurements a little noisier.
  sched_param param{};
  int policy = SCHED_OTHER;
  if (priority == ThreadPriority::TimeCritical) {
    policy = SCHED_FIFO;
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  }
  (void)pthread_setschedparam(thread_.native_handle(), policy, &param);
}

}  // namespace rq::platform
