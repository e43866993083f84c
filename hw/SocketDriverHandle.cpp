#include "hw/SocketDriverHandle.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "driver/Protocol.h"

namespace rq::hw {
namespace {

namespace wire = rq::driver::wire;

// Every fixed-size request fits; only long physical-memory reads need the heap.
constexpr std::size_t kSmallMessage = 64;

}  // namespace

std::unique_ptr<SocketDriverHandle> SocketDriverHandle::Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return nullptr;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<SocketDriverHandle>(new SocketDriverHandle(fd));
}

SocketDriverHandle::~SocketDriverHandle() {
  if (fd_ >= 0) ::close(fd_);
}

bool SocketDriverHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  if ((buffer == nullptr && length != 0) || length > wire::kMaxBufferLength) return false;
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return false;
  return RoundTrip(code, buffer, length);
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
  driver::StoreU32(message, 0, code);
  if (length != 0) std::memcpy(message + wire::kHeaderLength, buffer, length);

  // A connection that fails once is given up: a reply that went missing would
  // otherwise be taken as the answer to the next request.
  auto broken = [this] {
    ::close(fd_);
    fd_ = -1;
    return false;
  };
  ssize_t sent;
  do {
    sent = ::send(fd_, message, messageLength, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(messageLength)) return broken();

  ssize_t received;
  do {
    received = ::recv(fd_, message, messageLength + 1, MSG_TRUNC);
  } while (received < 0 && errno == EINTR);
  if (received != static_cast<ssize_t>(messageLength)) return broken();

  if (driver::LoadU32(message, 0) != wire::kReplySuccess) return false;
  if (length != 0) std::memcpy(buffer, message + wire::kHeaderLength, length);
  return true;
}

}  // namespace rq::hw
