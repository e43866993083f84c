#pragma once
#include <sys/types.h>

#include <string>

namespace rq::driver {

// An owned file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A pipe that wakes a thread blocked in poll(): the thread watches ReadFd(),
// another thread calls Wake() once to make it look at its stop flag.
class WakePipe {
 public:
  WakePipe();  // throws std::runtime_error when no pipe can be made
  int ReadFd() const { return read_.Get(); }
  void Wake();

 private:
  Fd read_;
  Fd write_;
};

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
};

// The credentials the kernel recorded for the other end of a connected socket.
bool GetPeerCredentials(int fd, PeerCredentials& out);

// Who may talk to the daemon: the user it serves. A daemon started with sudo
// (the real-hardware backend needs root) serves the user who invoked sudo.
uid_t ServedUid();

// Creates a listening Unix socket of `type` (SOCK_SEQPACKET, SOCK_STREAM) at
// `path` that only the served user can reach: its folder is created with mode
// 0700 when missing and must otherwise belong to that user (or root) and be
// writable by nobody else; the socket gets mode 0600. A stale socket file left by
// a dead daemon is replaced; a live one is not. Throws std::runtime_error with a
// message fit for the user.
Fd ListenUnix(const std::string& path, int type);

// Makes sure the folder of `socketPath` is fit for a private socket, as above.
void PrepareSocketFolder(const std::string& socketPath);

// Connects to a Unix socket; an invalid Fd (errno set) when nobody listens.
Fd ConnectUnix(const std::string& path, int type);

// An exclusive lock on `path` (created 0600) held for the Fd's lifetime; an
// invalid Fd when another process holds it.
Fd TryLockFile(const std::string& path);

}  // namespace rq::driver
