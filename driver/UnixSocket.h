#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

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
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups of the peer process
};

// The credentials the kernel recorded for the other end of a connected socket,
// with the peer's supplementary groups (from the kernel where it tells them,
// else from the group database).
bool GetPeerCredentials(int fd, PeerCredentials& out);

// Who may talk to the daemon: its own user, root, and the members of the group
// named with --group (unset: nobody else). Set once before the servers start.
void ServeGroup(std::optional<gid_t> group);
std::optional<gid_t> ServedGroup();
uid_t ServedUid();
bool PeerMayConnect(const PeerCredentials& peer, uid_t servedUid, std::optional<gid_t> group);

// The accept path's check of a new connection: true when the peer may use the
// daemon; for a refused peer, `refusal` names it for the log.
bool AcceptPeer(int fd, PeerCredentials& out, std::string& refusal);

// The folder that holds the daemon's sockets and lock file, opened once and
// checked; everything in it is then created, opened and removed relative to the
// open folder, so that nobody can redirect it by swapping a path component.
//  - As root: every component of the path must be a real folder (no symbolic
//    link) owned by root, writable by nobody else (ancestors: unless sticky);
//    missing components are created 0700. A folder another user controls is
//    refused: root never follows, creates or changes anything in it.
//  - Otherwise: created 0700 when missing; it must belong to this user (or
//    root) and be writable by nobody else.
// `ownMode`, for a folder that is the daemon's own: the folder is set to that mode
// (and the served group) through its descriptor.
class SocketFolder {
 public:
  static SocketFolder Open(const std::string& folder, std::optional<mode_t> ownMode = std::nullopt);

  const std::string& Path() const { return path_; }
  // A listening socket `name` (SOCK_SEQPACKET, SOCK_STREAM) that only the served
  // user (and group) can reach: born 0600 (0660 with a served group, its group
  // set to it) under a matching umask. A stale socket file left by a dead daemon
  // is replaced; a live one is not. Throws std::runtime_error fit for the user.
  Fd Listen(const std::string& name, int type) const;
  // An exclusive lock on the file `name` (created 0600, never through a link)
  // held for the Fd's lifetime; an invalid Fd when another process holds it.
  Fd Lock(const std::string& name) const;
  void Remove(const std::string& name) const;

 private:
  SocketFolder(std::string path, Fd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
  // The entry `name` as a path that goes through the open folder.
  std::string Through(const std::string& name) const;

  std::string path_;
  Fd fd_;
};

// SocketFolder::Open(folder of `path`).Listen(file name of `path`, type).
Fd ListenUnix(const std::string& path, int type);

// After a SOCK_SEQPACKET recv() of 0 bytes: true when that was the end of the
// stream (the peer closed or shut down its end, or the socket is unusable),
// false when it was an empty message on a connection still open.
bool PeerHasHungUp(int fd);

// Connects to a Unix socket; an invalid Fd (errno set) when nobody listens.
Fd ConnectUnix(const std::string& path, int type);

}  // namespace rq::driver
