#include "driver/DaemonLog.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

namespace rq::driver {
namespace {

constexpr char kLogPrefix[] = "ZQ_I2cIo: ";
// How often a writer waiting for room looks whether it should stop.
constexpr int kRoomPollMs = 100;
// What is still queued at the end gets this long to be written.
constexpr auto kFinalFlush = std::chrono::milliseconds(500);

std::mutex installedMutex;
LogQueue* installed = nullptr;

}  // namespace

LogQueue::LogQueue(int fd, std::size_t capacity) : fd_(fd), capacity_(capacity), thread_([this] { Run(); }) {}

LogQueue::~LogQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LogQueue::Post(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (lines_.size() >= capacity_) {
      ++dropped_;
      ++droppedUnreported_;
      return;
    }
    lines_.push_back(std::move(line) + "\n");
  }
  wake_.notify_one();
}

std::size_t LogQueue::Dropped() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool LogQueue::WriteLine(const std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + kFinalFlush;
  std::size_t done = 0;
  while (done < line.size()) {
    pollfd entry{fd_, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, kRoomPollMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) {
      std::lock_guard lock(mutex_);
      if (stopping_ && std::chrono::steady_clock::now() >= deadline) return false;
      continue;
    }
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;  // the reader is gone: nothing more can be said
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void LogQueue::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
    if (lines_.empty()) return;  // stopping, all written
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    if (lines_.empty() && droppedUnreported_ > 0) {
      lines_.push_back(kLogPrefix + std::to_string(std::exchange(droppedUnreported_, 0)) +
                       " log lines dropped: standard error was not being read\n");
    }
    lock.unlock();
    const bool written = WriteLine(line);
    lock.lock();
    if (!written && stopping_) return;
  }
}

void LogLine(const std::string& message) {
  std::lock_guard lock(installedMutex);
  if (installed != nullptr) {
    installed->Post(kLogPrefix + message);
  } else {
    std::fputs((kLogPrefix + message + "\n").c_str(), stderr);
  }
}

ScopedDaemonLog::ScopedDaemonLog() : queue_(STDERR_FILENO) {
  std::lock_guard lock(installedMutex);
  installed = &queue_;
}

ScopedDaemonLog::~ScopedDaemonLog() {
  std::lock_guard lock(installedMutex);
  installed = nullptr;
}

}  // namespace rq::driver
