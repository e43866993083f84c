#include "engine/StateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/BoardSections.h"

namespace rq::engine {
namespace {

constexpr const char* kFolderName = "rhomboquest";
constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

// Missing folders on the way are made private, as the base directory rules ask.
std::optional<std::string> CreateParents(const std::filesystem::path& folder) {
  std::filesystem::path path;
  for (const auto& part : folder) {
    path /= part;
    if (::mkdir(path.c_str(), kPrivateFolder) != 0 && errno != EEXIST)
      return Why("cannot create " + path.string());
  }
  return std::nullopt;
}

// Whoever may rename entries in the parent could swap our folder for theirs.
std::optional<std::string> CheckParent(int parent, const std::string& path) {
  struct stat st {};
  if (::fstat(parent, &st) != 0) return Why(path);
  if (st.st_uid != ::geteuid() && st.st_uid != 0)
    return path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
    return path + " may be written by other users";
  return std::nullopt;
}

std::optional<std::string> CheckFolder(int folder, const std::string& path) {
  struct stat st {};
  if (::fstat(folder, &st) != 0) return Why(path);
  if (st.st_uid != ::geteuid())
    return path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & 077) != 0 && ::fchmod(folder, kPrivateFolder) != 0)
    return Why("cannot close " + path + " to others");
  return std::nullopt;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::fsync(fd) == 0;
}

// Written whole under a private name first and then linked in: a link never
// replaces an existing name, so a file the user made meanwhile wins, and a
// failed write leaves no settings file cut short.
std::optional<std::string> SeedSettings(int folder, const std::string& folderPath, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return std::nullopt;
  if (errno != ENOENT) return Why(folderPath + "/" + name);
  const std::string temporary = "." + name + ".seed." + std::to_string(::getpid());
  ::unlinkat(folder, temporary.c_str(), 0);
  std::optional<std::string> problem;
  {
    Fd file(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     kPrivateFile));
    if (!file.Valid()) return Why("cannot create " + folderPath + "/" + temporary);
    if (!WriteAll(file.Get(), SeedSettingsText()))
      problem = Why("cannot write " + folderPath + "/" + temporary);
  }
  if (!problem && ::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) != 0 && errno != EEXIST)
    problem = Why("cannot create " + folderPath + "/" + name);
  ::unlinkat(folder, temporary.c_str(), 0);
  if (!problem) ::fsync(folder);
  return problem;
}

}  // namespace

std::string StateFolderPath(const char* xdgStateHome, const char* home) {
  if (xdgStateHome != nullptr && xdgStateHome[0] == '/') return std::string(xdgStateHome) + "/" + kFolderName;
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/" + kFolderName;
  return {};
}

std::string SeedSettingsText() {
  std::string text = "; The monitor rows of each board the program knows; edit your board's section.\n";
  for (const std::string& model : ShippedBoardModels()) {
    text += "\n[" + model + "]\n";
    for (const BoardKey& key : ShippedBoardSection(model))
      text += std::string(key.key) + "=" + key.value + "\n";
  }
  return text;
}

std::optional<std::string> PrepareStateFolder(const std::string& folder, const std::string& settingsName) {
  const std::filesystem::path path = std::filesystem::path(folder).lexically_normal();
  const std::filesystem::path parentPath = path.parent_path();
  const std::string name = path.filename().string();
  if (folder.empty()) return "neither $XDG_STATE_HOME nor $HOME names a folder";
  if (path.is_relative() || name.empty() || name == "..") return "no usable settings folder (" + folder + ")";
  if (auto problem = CreateParents(parentPath)) return problem;
  Fd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) return Why(parentPath.string());
  if (auto problem = CheckParent(parent.Get(), parentPath.string())) return problem;
  if (::mkdirat(parent.Get(), name.c_str(), kPrivateFolder) != 0 && errno != EEXIST)
    return Why("cannot create " + path.string());
  Fd own(::openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!own.Valid()) {
    if (errno == ELOOP || errno == ENOTDIR) return path.string() + " is a symbolic link or not a folder";
    return Why(path.string());
  }
  if (auto problem = CheckFolder(own.Get(), path.string())) return problem;
  return SeedSettings(own.Get(), path.string(), settingsName);
}

}  // namespace rq::engine
