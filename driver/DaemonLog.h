#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace rq::driver {

// Lines written to a descriptor by a thread of their own, so that whoever logs
// never waits for the reader: standard error may be a pipe nobody drains. At most
// `capacity` lines wait; a line posted to a full queue is dropped and counted,
// and the count is written as a line of its own once the queue has emptied.
class LogQueue {
 public:
  static constexpr std::size_t kDefaultCapacity = 64;

  explicit LogQueue(int fd, std::size_t capacity = kDefaultCapacity);
  // Writes what the descriptor takes within a short bound, then ends the thread.
  ~LogQueue();
  LogQueue(const LogQueue&) = delete;
  LogQueue& operator=(const LogQueue&) = delete;

  void Post(std::string line);  // one line, without its newline; never blocks on the descriptor
  std::size_t Dropped();        // lines dropped so far

 private:
  void Run();
  bool WriteLine(const std::string& line);  // false when stopping cut it short

  const int fd_;
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> lines_;
  std::size_t dropped_ = 0;
  std::size_t droppedUnreported_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // last: it uses the members above
};

// The daemon's one way to log: "ZQ_I2cIo: <message>" to standard error, through
// the queue that ScopedDaemonLog installs, or written at once when none is (the
// start-up, before anything serves, and the tests).
void LogLine(const std::string& message);

// Routes LogLine through a LogQueue on standard error for its lifetime.
class ScopedDaemonLog {
 public:
  ScopedDaemonLog();
  ~ScopedDaemonLog();
  ScopedDaemonLog(const ScopedDaemonLog&) = delete;
  ScopedDaemonLog& operator=(const ScopedDaemonLog&) = delete;

 private:
  LogQueue queue_;
};

}  // namespace rq::driver
