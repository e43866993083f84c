#include "driver/UnixSocket.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace rq::driver {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kPrivateSocketMode = 0600;
constexpr mode_t kGroupSocketMode = 0660;
constexpr mode_t kLockMode = 0600;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;
constexpr std::size_t kGroupsAtFirst = 64;

std::atomic<bool> groupServed{false};
std::atomic<gid_t> servedGroup{0};

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void MakeFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return;
  const std::string parent = ParentOf(folder);
  if (parent != folder) MakeFolders(parent);
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    throw std::runtime_error(Errno("cannot create the folder " + folder));
  }
}

// Root's walk from "/": each component opened without following a link, checked
// on the open descriptor, and created (0700) only inside a folder already proven
// to be root's alone.
Fd OpenAsRoot(const std::filesystem::path& folder) {
  Fd current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current.Valid()) throw std::runtime_error(Errno("cannot open /"));
  std::string walked;
  const auto last = std::prev(folder.end());
  for (auto part = folder.begin(); part != folder.end(); ++part) {
    const std::string name = part->string();
    const bool isLast = part == last;
    if (name != "/" && !name.empty()) {
      if (name == "..")
        throw std::runtime_error("the socket folder " + folder.string() + " climbs out with ..");
      walked += "/" + name;
      int opened = ::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (opened < 0 && errno == ENOENT) {
        if (::mkdirat(current.Get(), name.c_str(), kFolderMode) != 0 && errno != EEXIST) {
          throw std::runtime_error(Errno("cannot create the folder " + walked));
        }
        opened = ::openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      if (opened < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        throw std::runtime_error(walked +
                                 " is a symbolic link or not a folder; as root the socket folder must be "
                                 "named by its real path");
      }
      if (opened < 0) throw std::runtime_error(Errno("cannot open the folder " + walked));
      current.Reset(opened);
    }
    struct stat info {};
    if (::fstat(current.Get(), &info) != 0)
      throw std::runtime_error(Errno("cannot use the folder " + walked));
    const bool openToOthers =
        (info.st_mode & kWritableByOthers) != 0 && (isLast || (info.st_mode & S_ISVTX) == 0);
    if (info.st_uid != 0 || openToOthers) {
      throw std::runtime_error(
          "the folder " + (walked.empty() ? std::string("/") : walked) +
          " is not root's alone (owner and write access); as root the socket must lie in "
          "a folder only root controls, such as /run/rhomboquest");
    }
  }
  return current;
}

Fd OpenAsUser(const std::string& folder) {
  MakeFolders(folder);
  Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) throw std::runtime_error(Errno("cannot use the folder " + folder));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) throw std::runtime_error(Errno("cannot use the folder " + folder));
  if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    throw std::runtime_error("the folder " + folder + " belongs to another user");
  }
  if ((info.st_mode & kWritableByOthers) != 0) {
    throw std::runtime_error("the folder " + folder +
                             " is writable by other users; use a private folder (mode 0700)");
  }
  return fd;
}

// The peer's supplementary groups as its process holds them; the group database
// where the kernel does not say.
std::vector<gid_t> PeerGroups(int fd, uid_t uid, gid_t gid) {
  std::vector<gid_t> groups(kGroupsAtFirst);
#ifdef SO_PEERGROUPS
  for (int attempt = 0; attempt < 2; ++attempt) {
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
      groups.resize(length / sizeof(gid_t));
      return groups;
    }
    if (errno != ERANGE) break;
    groups.resize(length / sizeof(gid_t) + 1);
  }
#else
  (void)fd;
#endif
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  int count = static_cast<int>(groups.size());
  if (::getgrouplist(entry.pw_name, gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(entry.pw_name, gid, groups.data(), &count) < 0) return {};
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

}  // namespace

void Fd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool GetPeerCredentials(int fd, PeerCredentials& out) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  out.pid = credentials.pid;
  out.uid = credentials.uid;
  out.gid = credentials.gid;
  out.groups = PeerGroups(fd, credentials.uid, credentials.gid);
  return true;
}

void ServeGroup(std::optional<gid_t> group) {
  servedGroup = group.value_or(0);
  groupServed = group.has_value();
}

std::optional<gid_t> ServedGroup() {
  if (!groupServed) return std::nullopt;
  return servedGroup.load();
}

uid_t ServedUid() { return ::geteuid(); }

bool PeerMayConnect(const PeerCredentials& peer, uid_t servedUid, std::optional<gid_t> group) {
  if (peer.uid == servedUid || peer.uid == 0) return true;
  if (!group) return false;
  return peer.gid == *group || std::find(peer.groups.begin(), peer.groups.end(), *group) != peer.groups.end();
}

bool AcceptPeer(int fd, PeerCredentials& out, std::string& refusal) {
  if (!GetPeerCredentials(fd, out)) return false;
  const std::optional<gid_t> group = ServedGroup();
  if (PeerMayConnect(out, ServedUid(), group)) return true;
  refusal =
      "refused a connection from uid " + std::to_string(out.uid) + " (pid " + std::to_string(out.pid) +
      "): " + (group ? "not in group " + std::to_string(*group) : std::string("not this daemon's user"));
  return false;
}

SocketFolder SocketFolder::Open(const std::string& folder, std::optional<mode_t> ownMode) {
  const std::filesystem::path absolute =
      std::filesystem::absolute(folder.empty() ? "." : folder).lexically_normal();
  std::string path = absolute.string();
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  Fd fd = ::geteuid() == 0 ? OpenAsRoot(path) : OpenAsUser(path);
  if (ownMode) {
    const std::optional<gid_t> group = ServedGroup();
    if (group && ::fchown(fd.Get(), static_cast<uid_t>(-1), *group) != 0) {
      throw std::runtime_error(
          Errno("cannot give the folder " + path + " to group " + std::to_string(*group)));
    }
    if (::fchmod(fd.Get(), *ownMode) != 0) throw std::runtime_error(Errno("cannot set the mode of " + path));
  }
  return SocketFolder(path, std::move(fd));
}

std::string SocketFolder::Through(const std::string& name) const {
  return "/proc/self/fd/" + std::to_string(fd_.Get()) + "/" + name;
}

Fd SocketFolder::Listen(const std::string& name, int type) const {
  const std::string path = (path_ == "/" ? "" : path_) + "/" + name;
  sockaddr_un address{};
  if (name.empty() || name.find('/') != std::string::npos || !FillAddress(path, address) ||
      !FillAddress(Through(name), address)) {
    throw std::runtime_error("the socket path is empty or longer than " +
                             std::to_string(sizeof address.sun_path - 1) + " bytes: " + path);
  }

  struct stat info {};
  if (::fstatat(fd_.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISSOCK(info.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
    if (ConnectUnix(Through(name), type).Valid())
      throw std::runtime_error("another daemon is already serving " + path);
    ::unlinkat(fd_.Get(), name.c_str(), 0);
  }

  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error(Errno("cannot create a socket"));
  // The socket is born with its final mode: nothing is changed on it by path later,
  // and nobody can connect before listen().
  const std::optional<gid_t> group = ServedGroup();
  const mode_t mode = group ? kGroupSocketMode : kPrivateSocketMode;
  const mode_t previous = ::umask(~mode & 0777);
  const int bound = ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindError = errno;
  ::umask(previous);
  if (bound != 0) {
    errno = bindError;
    throw std::runtime_error(Errno("cannot bind " + path));
  }
  if (group &&
      ::fchownat(fd_.Get(), name.c_str(), static_cast<uid_t>(-1), *group, AT_SYMLINK_NOFOLLOW) != 0) {
    const std::string message = Errno("cannot give " + path + " to group " + std::to_string(*group));
    ::unlinkat(fd_.Get(), name.c_str(), 0);
    throw std::runtime_error(message);
  }
  if (::listen(fd.Get(), SOMAXCONN) != 0) {
    const std::string message = Errno("cannot listen on " + path);
    ::unlinkat(fd_.Get(), name.c_str(), 0);
    throw std::runtime_error(message);
  }
  return fd;
}

Fd SocketFolder::Lock(const std::string& name) const {
  const std::string path = path_ + "/" + name;
  Fd fd(::openat(fd_.Get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kLockMode));
  if (!fd.Valid()) throw std::runtime_error(Errno("cannot open the lock file " + path));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    throw std::runtime_error("the lock file " + path + " is not a plain file of this user");
  }
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return Fd();
  return fd;
}

void SocketFolder::Remove(const std::string& name) const { ::unlinkat(fd_.Get(), name.c_str(), 0); }

Fd ListenUnix(const std::string& path, int type) {
  return SocketFolder::Open(ParentOf(path)).Listen(NameOf(path), type);
}

bool PeerHasHungUp(int fd) {
  // A hang-up is sticky, so a poll that does not wait tells it from an empty
  // message. An empty message followed at once by a close counts as the close:
  // nobody is left to read its answer.
  pollfd watched{fd, POLLIN | POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return true;
  return (watched.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) != 0;
}

Fd ConnectUnix(const std::string& path, int type) {
  sockaddr_un address{};
  if (!FillAddress(path, address)) {
    errno = ENAMETOOLONG;
    return Fd();
  }
  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return fd;
  int result;
  do {
    result = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return Fd();
  return fd;
}

WakePipe::WakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  read_.Reset(fds[0]);
  write_.Reset(fds[1]);
}

void WakePipe::Wake() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(write_.Get(), &byte, 1);
}

}  // namespace rq::driver
