#include "app/HardwareJobs.h"

#include "app/WindowThread.h"

namespace rq::app {
namespace {

// Window thread only.
HardwareJobs::Observer& JobObserver() {
  static HardwareJobs::Observer observer;
  return observer;
}

void Notify(bool started) {
  if (const auto& observer = JobObserver()) observer(started);
}

}  // namespace

void HardwareJobs::SetObserver(Observer observer) { JobObserver() = std::move(observer); }

std::shared_ptr<HardwareJobs> HardwareJobs::Shared() {
  static std::weak_ptr<HardwareJobs> shared;
  std::shared_ptr<HardwareJobs> jobs = shared.lock();
  if (!jobs) {
    jobs = std::make_shared<HardwareJobs>();
    shared = jobs;
  }
  return jobs;
}

HardwareJobs::HardwareJobs() : receiver_(std::make_unique<QObject>()) {
  thread_ = std::thread([this] { Run(); });
}

HardwareJobs::~HardwareJobs() { Finish(); }

bool HardwareJobs::Start(std::function<void()> work, Then then) {
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return false;
    queue_.push_back({std::move(work), std::move(then)});
    ++unfinished_;
    cv_.notify_all();
  }
  Notify(true);
  return true;
}

bool HardwareJobs::Idle() const {
  std::lock_guard lock(mutex_);
  return unfinished_ == 0;
}

void HardwareJobs::Finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    unfinished_ -= static_cast<int>(queue_.size());
    queue_.clear();
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  receiver_.reset();
}

void HardwareJobs::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      job.work();
    } catch (...) {
      error = std::current_exception();
    }
    const bool posted =
        WindowThreadDispatcher::Instance().Post(receiver_.get(), [this, then = std::move(job.then), error] {
          {
            std::lock_guard lock(mutex_);
            --unfinished_;
          }
          struct Done {
            ~Done() { Notify(false); }
          } done;
          then(error);
        });
    if (!posted) {
      std::lock_guard lock(mutex_);
      --unfinished_;
    }
  }
}

}  // namespace rq::app
