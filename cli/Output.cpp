#include "cli/Output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace rq::cli {
namespace {

// How often a wait on the output looks at the stop flag.
constexpr int kStopPollMs = 50;

bool StopAsked(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

std::string Reason(int error) { return std::strerror(error); }

// Reads at most `bound` bytes of the file's first line; nothing when it cannot be read.
std::optional<std::string> ReadFirstLine(int fd, std::size_t bound) {
  std::string line;
  char chunk[4096];
  for (off_t offset = 0; line.size() < bound;) {
    const ssize_t got = ::pread(fd, chunk, std::min(sizeof chunk, bound - line.size()), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    const char* end = std::find(chunk, chunk + got, '\n');
    line.append(chunk, static_cast<std::size_t>(end - chunk));
    if (end != chunk + got) break;
    offset += got;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Opens for appending without blocking on a FIFO that has no reader yet (ENXIO);
// -1 with errno set otherwise.
int OpenForAppend(const std::string& path, const std::atomic<bool>* stop, double readerWaitSeconds,
                  std::ostream& err) {
  const auto giveUp = std::chrono::steady_clock::now() +
                      std::chrono::milliseconds(static_cast<long long>(readerWaitSeconds * 1000));
  for (bool told = false;;) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != ENXIO) return fd;
    if (!told) {
      err << "rqctl: waiting for a reader of " << path << " (at most " << readerWaitSeconds << " s)\n";
      told = true;
    }
    if (StopAsked(stop) || std::chrono::steady_clock::now() >= giveUp) {
      errno = ENXIO;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollMs));
  }
}

}  // namespace

Output::~Output() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

WriteResult Output::Write(std::string_view text, const std::atomic<bool>* stop) {
  if (stream_ != nullptr) {
    *stream_ << text << std::flush;
    if (*stream_) return WriteResult::Written;
    error_ = "the stream refused it";
    return WriteResult::Failed;
  }
  while (!text.empty()) {
    pollfd entry{fd_, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, kStopPollMs);
    if (ready < 0 && errno != EINTR) {
      error_ = Reason(errno);
      return WriteResult::Failed;
    }
    if (ready <= 0) {
      // The reader takes nothing: only a stop ends the wait.
      if (StopAsked(stop)) return WriteResult::Stopped;
      continue;
    }
    // Ready for writing means room for at least PIPE_BUF bytes on a pipe, so a
    // piece that size never blocks even on a descriptor that may block.
    const ssize_t written = ::write(fd_, text.data(), std::min<std::size_t>(text.size(), PIPE_BUF));
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      error_ = Reason(errno);
      return WriteResult::Failed;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return WriteResult::Written;
}

std::optional<LogFile> OpenLogFile(const std::string& path, const std::atomic<bool>* stop,
                                   double readerWaitSeconds, std::ostream& err) {
  const int fd = OpenForAppend(path, stop, readerWaitSeconds, err);
  if (fd < 0 && StopAsked(stop)) return std::nullopt;  // ended before anything was written
  if (fd < 0) {
    err << "rqctl: cannot open " << path
        << " for writing: " << (errno == ENXIO ? std::string("no reader opened it") : Reason(errno)) << '\n';
    return std::nullopt;
  }
  LogFile file;
  file.output = std::make_unique<Output>(fd, path, true);
  struct stat written {};
  if (::fstat(fd, &written) != 0) {
    err << "rqctl: cannot look at " << path << ": " << Reason(errno) << '\n';
    return std::nullopt;
  }
  // Only a regular file can hold an earlier log to go on with; a pipe, FIFO or
  // device is a fresh stream whatever it is called, and reading one could block or
  // never end (/dev/zero).
  if (!S_ISREG(written.st_mode) || written.st_size == 0) return file;
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat read {};
  const bool same = reader >= 0 && ::fstat(reader, &read) == 0 && read.st_dev == written.st_dev &&
                    read.st_ino == written.st_ino;
  if (same) {
    file.existingFirstLine = ReadFirstLine(reader, kLongestHeaderLine);
    char last = '\n';
    if (::pread(reader, &last, 1, read.st_size - 1) == 1) file.endsWithLineBreak = last == '\n';
  }
  if (reader >= 0) ::close(reader);
  if (!same || !file.existingFirstLine) {
    err << "rqctl: cannot read " << path << " to see whether it holds a log of the same columns\n";
    return std::nullopt;
  }
  return file;
}

}  // namespace rq::cli
