#pragma once
#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace rq::app {

// Hardware operations a window starts (clock steps, reset) run here, one after the
// other in the order they were asked for, so that the window thread keeps painting
// and answering while a clock change takes its few hundred milliseconds. What a job
// then shows runs afterwards on the window thread; the window thread never waits.
class HardwareJobs {
 public:
  // Called on the window thread once the job's work has ended; `error` holds what
  // the work threw, if anything.
  using Then = std::function<void(std::exception_ptr error)>;

  // Told on the window thread when a job is queued (true) and when its window part
  // has run (false); the start-up trace times clock steps with it.
  using Observer = std::function<void(bool started)>;
  static void SetObserver(Observer observer);

  HardwareJobs();
  ~HardwareJobs();
  // The one worker of the windows that change the hardware (overclock and voltage
  // panels) while any of them holds it, so that their jobs too run in click order
  // and never side by side. Window thread only.
  static std::shared_ptr<HardwareJobs> Shared();
  HardwareJobs(const HardwareJobs&) = delete;
  HardwareJobs& operator=(const HardwareJobs&) = delete;

  // Queues `work`; false (and nothing queued) once Finish has been called.
  bool Start(std::function<void()> work, Then then);
  // True when no job is queued or running and no window part is still to come.
  bool Idle() const;
  // Refuses new jobs, drops queued ones and waits for the running one to end: a
  // clock change is never left half-done, and none starts after the program began
  // to close. Their window parts are dropped. Safe to call more than once.
  void Finish();

 private:
  struct Job {
    std::function<void()> work;
    Then then;
  };
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Job> queue_;
  int unfinished_ = 0;  // queued, running, or waiting for their window part
  bool finishing_ = false;
  // Window parts are delivered to this object; deleting it drops those not yet run.
  std::unique_ptr<QObject> receiver_;
  std::thread thread_;
};

}  // namespace rq::app
