#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/RuntimeDir.h"

namespace rq::platform {

std::unique_ptr<InstanceLock> InstanceLock::Create(const std::string& name, bool& alreadyExists) {
  alreadyExists = false;
  const std::string dir = RuntimeDir();
  if (dir.empty() || name.empty() || name.find('/') != std::string::npos) return nullptr;
  return CreateAt(dir + "/" + name, alreadyExists);
}

std::unique_ptr<InstanceLock> InstanceLock::CreateAt(const std::string& path, bool& alreadyExists) {
  alreadyExists = false;
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return nullptr;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    alreadyExists = errno == EWOULDBLOCK;
    ::close(fd);
    return nullptr;
  }
  // The file stays behind on purpose: unlinking it would let a newcomer lock a
  // fresh file while a slower starter still holds the old one.
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace rq::platform
