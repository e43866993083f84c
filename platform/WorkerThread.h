#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace rq::platform {

enum class ThreadPriority { Normal, AboveNormal, TimeCritical };

// Base of every worker thread: a terminate flag, cooperative suspend/resume and a
// wait for the end. Suspension only takes effect at the thread's own safe points
// (SleepMs and CheckSuspend), so a thread is never frozen while it holds a lock.
//
// A derived class must call Shutdown() in its own destructor: the thread runs the
// derived Execute, which must not outlive the derived object.
class WorkerThread {
 public:
  WorkerThread() = default;
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts the thread; `suspended` makes it wait at its first safe point until Resume.
  void Start(bool suspended = false);
  void Suspend();
  void Resume();
  bool Suspended() const;
  // Asks the thread to end and wakes it from a sleep or a suspension.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Blocks until Execute has returned (returns at once if never started).
  void WaitFor();
  bool Started() const { return thread_.joinable() || finished_.load(); }
  bool Finished() const { return finished_.load(); }
  void SetPriority(ThreadPriority priority);  // best effort

  // Terminate, wake and wait: what freeing a thread object does.
  void Shutdown();

 protected:
  virtual void Execute() = 0;
  // Sleeps `ms` milliseconds unless terminated first; honours a pending suspension.
  // Returns false when the thread was asked to terminate.
  bool SleepMs(std::uint32_t ms);
  // Blocks while suspended; returns false when the thread was asked to terminate.
  bool CheckSuspend();

 private:
  void Run();

  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool suspended_ = false;
  std::mutex joinMutex_;
};

}  // namespace rq::platform
