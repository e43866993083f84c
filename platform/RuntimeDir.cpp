#include "platform/RuntimeDir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>

#include "platform/MessageBox.h"

namespace rq::platform {
namespace {

// A socket name must still fit behind the folder in a socket address.
constexpr std::size_t kSocketNameRoom = 32;
constexpr const char* kErrorCaption = "Error";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// An absolute folder from the environment; relative ones are ignored, as the
// base-directory rules say.
std::string AbsoluteEnv(const char* name) {
  std::string value = Env(name);
  return value.starts_with('/') ? value : std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ErrorText(int error) { return std::string(" (") + std::strerror(error) + ")"; }

// Creates the missing folders of `path` (mode 0700, since they hold this user's
// lock, event and socket).
bool MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) == 0) continue;
    const int error = errno;
    struct stat st {};
    if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    errno = error == EEXIST ? ENOTDIR : error;
    return false;
  }
  return true;
}

// Why `path` cannot be the runtime folder, or nothing when it can. A folder
// someone else owns, or a link someone could turn elsewhere, could be prepared to
// catch our socket or lock.
std::string Refusal(const std::string& path, bool strict) {
  if (path.size() + kSocketNameRoom > sizeof(sockaddr_un{}.sun_path)) {
    return path + " is too long a path for a socket";
  }
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 && !MakeFolders(path)) {
    return path + " cannot be created" + ErrorText(errno);
  }
  struct stat target {};
  if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &target) != 0) {
    return path + " cannot be examined" + ErrorText(errno);
  }
  const uid_t me = ::geteuid();
  if (S_ISLNK(link.st_mode) && (strict || link.st_uid != me)) return path + " is a symbolic link";
  if (!S_ISDIR(target.st_mode)) return path + " is not a folder";
  if (target.st_uid != me) {
    return path + " belongs to another user (uid " + std::to_string(target.st_uid) + ")";
  }
  if (strict && (target.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    return path + " is open to other users and cannot be closed" + ErrorText(errno);
  }
  return {};
}

// Says once per situation what was passed over, so that a missing driver or exit
// event never goes unexplained.
void Report(const RuntimeDirChoice& choice) {
  if (choice.refused.empty()) return;
  std::string reasons;
  for (const std::string& reason : choice.refused) reasons += (reasons.empty() ? "" : "; ") + reason;
  const std::string message =
      choice.path.empty()
          ? "No private runtime folder can be used: " + reasons +
                ". Without one there is no single-instance lock, no exit event and no driver. "
                "Set XDG_RUNTIME_DIR to a folder only you can write."
          : reasons + "; using " + choice.path + " instead.";
  {
    static std::mutex mutex;
    static std::string reported;
    std::lock_guard lock(mutex);
    if (message == reported) return;
    reported = message;
  }
  if (choice.path.empty()) {
    MessageBox(message, kErrorCaption, kMbOk | kMbIconError);
  } else {
    std::cerr << "rhomboquest: " << message << '\n';
  }
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::geteuid())) home = entry->pw_dir;
  }
  return home;
}

}  // namespace

std::vector<std::string> RuntimeDirCandidates() {
  const std::string override = Env("RQ_RUNTIME_DIR");
  if (!override.empty()) return {WithoutTrailingSlashes(override)};
  std::vector<std::string> candidates;
  if (const std::string xdg = AbsoluteEnv("XDG_RUNTIME_DIR"); !xdg.empty()) {
    candidates.push_back(WithoutTrailingSlashes(xdg) + "/rhomboquest");
  }
  candidates.push_back("/tmp/rhomboquest-" + std::to_string(::geteuid()));
  // Another user can take the shared name above first; a folder under the home
  // is ours alone and lies where every process of ours finds it.
  std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = HomeDir();
    if (home.starts_with('/')) cache = WithoutTrailingSlashes(home) + "/.cache";
  }
  if (!cache.empty()) candidates.push_back(WithoutTrailingSlashes(cache) + "/rhomboquest/run");
  return candidates;
}

RuntimeDirChoice ChooseRuntimeDir(const std::vector<std::string>& candidates, bool strict) {
  RuntimeDirChoice choice;
  for (const std::string& candidate : candidates) {
    const std::string path = WithoutTrailingSlashes(candidate);
    if (path.empty()) continue;
    std::string refusal = Refusal(path, strict);
    if (refusal.empty()) {
      choice.path = path;
      return choice;
    }
    choice.refused.push_back(std::move(refusal));
  }
  return choice;
}

std::string RuntimeDir() {
  const RuntimeDirChoice choice = ChooseRuntimeDir(RuntimeDirCandidates(), Env("RQ_RUNTIME_DIR").empty());
  Report(choice);
  return choice.path;
}

std::string SystemDirectory() {
  std::string path = Env("RQ_SYSTEM_DIR");
  if (path.empty()) {
    std::string data = Env("XDG_DATA_HOME");
    if (data.empty()) {
      const std::string home = HomeDir();
      if (home.empty()) return {};
      data = home + "/.local/share";
    }
    path = data + "/rhomboquest/system";
  }
  return WithoutTrailingSlashes(path);
}

}  // namespace rq::platform
