#include "hw/SocketDriverHandle.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "protocol/Protocol.h"

namespace rq::hw {
namespace {

namespace wire = rq::protocol::wire;

// Every fixed-size request fits; only long physical-memory reads need the heap.
constexpr std::size_t kSmallMessage = 64;

using Deadline = std::chrono::steady_clock::time_point;

// Waits until `fd` is ready for `events` or the deadline passes; false on time-out
// or error.
bool WaitReady(int fd, short events, Deadline deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(
        &entry, 1, static_cast<int>(std::min<std::int64_t>(left.count(), std::numeric_limits<int>::max())));
    if (ready > 0) return true;  // an error or hang-up shows in the send or receive
    if (ready < 0 && errno != EINTR) return false;
  }
}

// Repeats `attempt` (a send or receive that does not block) until it moves data or
// fails for good, waiting for `events` in between; -1 on failure or time-out.
template <typename Attempt>
ssize_t Transfer(int fd, short events, Deadline deadline, Attempt attempt) {
  for (;;) {
    const ssize_t moved = attempt();
    if (moved >= 0) return moved;
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitReady(fd, events, deadline)) return -1;
  }
}

}  // namespace

int ConnectLocalSocket(const std::string& path, int type) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;  // callers tell a refused connection from a missing daemon
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::unique_ptr<SocketDriverHandle> SocketDriverHandle::Connect(const std::string& path,
                                                                std::chrono::milliseconds replyTimeout) {
  const int fd = ConnectLocalSocket(path, SOCK_SEQPACKET);
  if (fd < 0) return nullptr;
  return std::unique_ptr<SocketDriverHandle>(new SocketDriverHandle(fd, replyTimeout));
}

SocketDriverHandle::~SocketDriverHandle() { ::close(fd_); }

void SocketDriverHandle::Abandon() {
  abandoned_ = true;
  gone_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

std::chrono::milliseconds SocketDriverHandle::Waiting() const {
  const std::int64_t since = inFlightSince_;
  if (since == 0) return std::chrono::milliseconds{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - std::chrono::nanoseconds(since));
}

bool SocketDriverHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  if ((buffer == nullptr && length != 0) || length > wire::kMaxBufferLength) return false;
  std::lock_guard lock(mutex_);
  if (gone_) return false;
  inFlightSince_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
  const bool answered = RoundTrip(code, buffer, length);
  inFlightSince_ = 0;
  return answered;
}

bool SocketDriverHandle::RoundTrip(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  const std::size_t messageLength = wire::kHeaderLength + length;
  std::array<std::uint8_t, kSmallMessage + 1> small;
  std::vector<std::uint8_t> large;
  std::uint8_t* message = small.data();
  if (messageLength + 1 > small.size()) {
    large.resize(messageLength + 1);
    message = large.data();
  }
  protocol::StoreU32(message, 0, code);
  if (length != 0) std::memcpy(message + wire::kHeaderLength, buffer, length);

  // A connection that fails once, or whose reply is late, is given up: a reply
  // that went missing or came late would otherwise be taken as the answer to the
  // next request.
  const Deadline deadline = std::chrono::steady_clock::now() + replyTimeout_;
  auto broken = [this, deadline] {
    ::shutdown(fd_, SHUT_RDWR);
    // Said once, on the way out: every later request fails at once and silently.
    // Whoever abandoned the connection says why.
    if (gone_.exchange(true) || abandoned_) return false;
    const bool late = std::chrono::steady_clock::now() >= deadline;
    std::cerr << "rhomboquest: the driver daemon "
              << (late ? "did not answer within " + std::to_string(replyTimeout_.count()) + " ms"
                       : std::string("closed its connection"))
              << "; hardware access is off until the program is started again\n";
    return false;
  };
  const ssize_t sent = Transfer(fd_, POLLOUT, deadline, [&] {
    return ::send(fd_, message, messageLength, MSG_NOSIGNAL | MSG_DONTWAIT);
  });
  if (sent != static_cast<ssize_t>(messageLength)) return broken();
  const ssize_t received = Transfer(fd_, POLLIN, deadline, [&] {
    return ::recv(fd_, message, messageLength + 1, MSG_TRUNC | MSG_DONTWAIT);
  });
  if (received != static_cast<ssize_t>(messageLength)) return broken();

  if (protocol::LoadU32(message, 0) != wire::kReplySuccess) return false;
  if (length != 0) std::memcpy(buffer, message + wire::kHeaderLength, length);
  return true;
}

}  // namespace rq::hw
