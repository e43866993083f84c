#include "platform/RuntimeDir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace rq::platform {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Creates the missing folders of `path` (mode 0700, since they hold this user's
// lock, event and socket).
bool MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) == 0 || errno == EEXIST) continue;
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

// A folder someone else owns (or a link to one) could be prepared to catch our
// socket or lock; such a folder is refused. A default folder of ours that others
// can enter is closed to them.
bool Usable(const std::string& path, bool tighten) {
  struct stat link {};
  struct stat target {};
  if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &target) != 0) return false;
  const uid_t me = ::geteuid();
  if (link.st_uid != me || target.st_uid != me || !S_ISDIR(target.st_mode)) return false;
  if (tighten && (target.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::geteuid())) home = entry->pw_dir;
  }
  return home;
}

}  // namespace

std::string RuntimeDir() {
  std::string path = Env("RQ_RUNTIME_DIR");
  bool tighten = false;
  if (path.empty()) {
    tighten = true;
    const std::string xdg = Env("XDG_RUNTIME_DIR");
    path = xdg.empty() ? "/tmp/rhomboquest-" + std::to_string(::geteuid()) : xdg + "/rhomboquest";
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!MakeFolders(path) || !Usable(path, tighten)) return {};
  return path;
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
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace rq::platform
