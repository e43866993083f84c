#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

// Where the program and the daemon meet. Shared by both sides, so header-only.
namespace rq::protocol {

inline constexpr const char* kSocketFileName = "ZQ_I2cIo.sock";
// The real-hardware daemon run as root listens here: a folder only root controls.
inline constexpr const char* kSystemSocketFolder = "/run/rhomboquest";
inline constexpr const char* kPrivateRuntimeDirVariable = "RQ_RUNTIME_DIR";

// A folder named in $RQ_RUNTIME_DIR keeps a private daemon even beside a system
// one (tests, several virtual boards side by side).
inline bool PrivateRuntimeDirNamed() {
  const char* named = std::getenv(kPrivateRuntimeDirVariable);
  return named != nullptr && *named != '\0';
}

enum class SystemSocket { Absent, Usable, NotPermitted };

// The system daemon's socket `folder`/ZQ_I2cIo.sock counts only when it is a
// socket owned by `owner` (root) in a real folder of `owner` that nobody else may
// write. NotPermitted when such a folder is there but this user may not look
// into it (0750, not in its group, or not logged in again since joining it), or
// may see the socket but not connect: the service exists and refuses this user.
inline SystemSocket ProbeSystemSocket(const std::string& folder = kSystemSocketFolder, uid_t owner = 0) {
  const auto refusedOr = [](SystemSocket otherwise) {
    return errno == EACCES || errno == EPERM ? SystemSocket::NotPermitted : otherwise;
  };
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return refusedOr(SystemSocket::Absent);
  if (!S_ISDIR(info.st_mode) || info.st_uid != owner || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return SystemSocket::Absent;
  }
  const std::string socket = folder + "/" + kSocketFileName;
  if (::lstat(socket.c_str(), &info) != 0) return refusedOr(SystemSocket::Absent);
  if (!S_ISSOCK(info.st_mode) || info.st_uid != owner) return SystemSocket::Absent;
  return ::access(socket.c_str(), R_OK | W_OK) == 0 ? SystemSocket::Usable : SystemSocket::NotPermitted;
}

}  // namespace rq::protocol
