#include "driver/UnixSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace rq::driver {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kSocketMode = 0600;

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

void MakeFolders(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return;
  const std::string parent = ParentOf(folder);
  if (parent != folder) MakeFolders(parent);
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    throw std::runtime_error(Errno("cannot create the folder " + folder));
  }
}

void CheckFolder(const std::string& folder) {
  MakeFolders(folder);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) throw std::runtime_error(Errno("cannot use the folder " + folder));
  if (!S_ISDIR(info.st_mode)) throw std::runtime_error(folder + " is not a folder");
  if (info.st_uid != ServedUid() && info.st_uid != 0) {
    throw std::runtime_error("the folder " + folder + " belongs to another user");
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw std::runtime_error("the folder " + folder +
                             " is writable by other users; use a private folder (mode 0700)");
  }
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
  return true;
}

uid_t ServedUid() {
  if (::geteuid() == 0) {
    if (const char* sudoUid = std::getenv("SUDO_UID"); sudoUid != nullptr && *sudoUid != '\0') {
      char* end = nullptr;
      const unsigned long uid = std::strtoul(sudoUid, &end, 10);
      if (*end == '\0') return static_cast<uid_t>(uid);
    }
  }
  return ::geteuid();
}

Fd ListenUnix(const std::string& path, int type) {
  sockaddr_un address{};
  if (!FillAddress(path, address)) {
    throw std::runtime_error("the socket path is empty or longer than " +
                             std::to_string(sizeof address.sun_path - 1) + " bytes: " + path);
  }
  CheckFolder(ParentOf(path));

  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
    if (ConnectUnix(path, type).Valid())
      throw std::runtime_error("another daemon is already serving " + path);
    ::unlink(path.c_str());
  }

  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error(Errno("cannot create a socket"));
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error(Errno("cannot bind " + path));
  }
  // Nobody can connect before listen(), so tightening the mode here leaves no window.
  if (::chmod(path.c_str(), kSocketMode) != 0) {
    const std::string message = Errno("cannot restrict " + path);
    ::unlink(path.c_str());
    throw std::runtime_error(message);
  }
  if (::geteuid() == 0 && ServedUid() != 0 &&
      ::chown(path.c_str(), ServedUid(), static_cast<gid_t>(-1)) != 0) {
    const std::string message = Errno("cannot hand " + path + " to its user");
    ::unlink(path.c_str());
    throw std::runtime_error(message);
  }
  if (::listen(fd.Get(), SOMAXCONN) != 0) {
    const std::string message = Errno("cannot listen on " + path);
    ::unlink(path.c_str());
    throw std::runtime_error(message);
  }
  return fd;
}

void PrepareSocketFolder(const std::string& socketPath) { CheckFolder(ParentOf(socketPath)); }

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

Fd TryLockFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.Valid()) return fd;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return Fd();
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
