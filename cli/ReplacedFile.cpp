#include "cli/ReplacedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace rq::cli {
namespace {

// A name nobody can guess ahead and plant a link under, hidden and not ending in
// the collector's suffix, so a half-written file is never read as one of its own.
constexpr int kTempNameTries = 8;
constexpr mode_t kFileMode = 0644;  // the collector often runs as another user

std::string RandomSuffix() {
  std::random_device source;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 4; ++i) {
    for (unsigned word = source(), digit = 0; digit < 8; ++digit, word >>= 4) suffix += kHex[word & 0xF];
  }
  return suffix;
}

// Holds SIGALRM back while a temporary file exists: the stop grace's alarm ends
// the process at once, and would leave the file behind.
class AlarmHeld {
 public:
  AlarmHeld() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &before_);
  }
  ~AlarmHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  AlarmHeld(const AlarmHeld&) = delete;
  AlarmHeld& operator=(const AlarmHeld&) = delete;

 private:
  sigset_t before_{};
};

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::unique_ptr<ReplacedFile> ReplacedFile::Open(const std::string& path, std::ostream& err) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (folder.empty()) folder = "/";
  if (name.empty() || name == "." || name == "..") {
    err << "rqctl: " << path << " names a folder, not a file\n";
    return nullptr;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    err << "rqctl: cannot use " << folder << " as the folder of " << path << ": " << std::strerror(errno)
        << '\n';
    return nullptr;
  }
  std::unique_ptr<ReplacedFile> file(new ReplacedFile(fd, name));
  struct stat existing {};
  if (::fstatat(fd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(existing.st_mode)) {
    err << "rqctl: " << path << " is not a regular file (a link, folder or device); name a file to replace\n";
    return nullptr;
  }
  return file;
}

ReplacedFile::~ReplacedFile() { ::close(folder_); }

bool ReplacedFile::Fail(const std::string& what, int error) {
  error_ = what + ": " + std::strerror(error);
  return false;
}

int ReplacedFile::CreateTemporary(std::string& tempName) {
  for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
    tempName = "." + name_ + ".tmp-" + RandomSuffix();
    // O_EXCL refuses any name that exists, a link included, so nothing is written
    // through a link planted under it.
    const int fd = ::openat(folder_, tempName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool ReplacedFile::Replace(std::string_view text) {
  const AlarmHeld held;
  std::string tempName;
  const int fd = CreateTemporary(tempName);
  if (fd < 0) return Fail("cannot create a file beside it", errno);
  // Written, on the disk, then renamed: a crash between leaves the old text whole.
  bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::renameat(folder_, tempName.c_str(), folder_, name_.c_str()) == 0) {
    // The rename itself reaches the disk with the folder; readers see it already,
    // so a folder that cannot be flushed does not undo the update.
    ::fsync(folder_);
    return true;
  }
  if (written) error = errno;
  ::unlinkat(folder_, tempName.c_str(), 0);
  return Fail(written ? "cannot rename the new text over it" : "cannot write the new text", error);
}

}  // namespace rq::cli
