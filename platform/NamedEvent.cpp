#include "platform/NamedEvent.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

#include "platform/RuntimeDir.h"

namespace rq::platform {
namespace {

// The event is a FIFO in the runtime folder. Its owner keeps it open for reading
// and writing (so that it never sees end-of-file and can signal itself); a byte
// in the pipe is the signalled state, and a wait drains them all (auto-reset).
// Nobody holding it open for reading means nobody listens, which the opener sees
// as ENXIO.

std::string EventPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const std::string dir = RuntimeDir();
  return dir.empty() ? std::string() : dir + "/" + name;
}

bool OwnFifo(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) && st.st_uid == ::geteuid();
}

// Writes one byte; a full pipe already holds a signal, which is just as good.
// SIGPIPE (the listener closed between open and write) is kept from ending this
// process: blocked for the write and consumed if it arrived.
bool WriteSignal(int fd) {
  sigset_t pipeOnly;
  sigset_t previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  ::sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  const char byte = 1;
  ssize_t put;
  do {
    put = ::write(fd, &byte, 1);
  } while (put < 0 && errno == EINTR);
  const bool ok = put == 1 || (put < 0 && errno == EAGAIN);
  if (put < 0 && errno == EPIPE && !alreadyPending) {
    const timespec zero{0, 0};
    ::sigtimedwait(&pipeOnly, nullptr, &zero);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name) {
  const std::string path = EventPath(name);
  if (path.empty()) return nullptr;
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return nullptr;
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0 && !OwnFifo(fd)) {
    // Something else took the name (a stray file): replace it with our FIFO.
    ::close(fd);
    fd = -1;
    if (::unlink(path.c_str()) == 0 && ::mkfifo(path.c_str(), 0600) == 0) {
      fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    }
  }
  if (fd < 0) return nullptr;
  auto event = std::unique_ptr<NamedEvent>(new NamedEvent(fd, path));
  // A signal left in the pipe from an earlier owner must not fire on a new event.
  char sink[256];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
  return event;
}

bool NamedEvent::SignalByName(const std::string& name) {
  const std::string path = EventPath(name);
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // ENXIO: the FIFO is there but nobody has it open
  const bool ok = OwnFifo(fd) && WriteSignal(fd);
  ::close(fd);
  return ok;
}

// The FIFO stays in the folder: another holder may still use it, and an
// unlistened FIFO answers a signal with "nobody listening" just as a missing one.
NamedEvent::~NamedEvent() { ::close(fd_); }

void NamedEvent::Set() { WriteSignal(fd_); }

bool NamedEvent::Wait(std::uint32_t timeoutMs) {
  using SteadyClock = std::chrono::steady_clock;
  const bool forever = timeoutMs == 0xFFFFFFFF;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int pollMs = -1;
    if (!forever) {
      // Rounded up: a poll cut short by truncation would report a time-out early.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      pollMs = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
    }
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, pollMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0) {
      char sink[256];
      bool consumed = false;
      while (::read(fd_, sink, sizeof sink) > 0) consumed = true;
      // Another waiter on this event may have taken the signal first.
      if (consumed) return true;
    }
    if (ready == 0 && pollMs == 0) return false;
    if (!forever && SteadyClock::now() >= deadline) return false;
  }
}

}  // namespace rq::platform
