#include "platform/ProfileFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

namespace rq::platform {
namespace {

// Larger files are not settings files; reading them would only cost memory, and
// rewriting them could lose what we failed to read.
constexpr off_t kMaxProfileBytes = 64 * 1024 * 1024;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\v\f";
constexpr std::string_view kTempSuffix = ".tmp";

std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The names are written with backslashes in the settings code inherited from
// Windows (".\torvane.ini"); on Linux both mean the same relative path.
std::string NativePath(const std::string& fileName) {
  std::string path = fileName;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

enum class LineKind { Other, Section, Key };

struct Line {
  std::string_view text;  // without its line break
  std::string_view eol;   // "\n", "\r\n" or "" for a last line without one
  LineKind kind = LineKind::Other;
  std::string_view name;       // section or key name, trimmed
  std::size_t valueStart = 0;  // offset in `text` where a key's value begins
};

struct Parsed {
  std::vector<Line> lines;
  std::string_view eol = "\n";  // what new lines get: the file's own style
};

void Classify(Line& line, bool firstLine) {
  std::string_view text = line.text;
  if (firstLine && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  const std::string_view body = Trim(text);
  if (body.empty() || body.front() == ';') return;
  if (body.front() == '[') {
    const auto close = body.find(']');
    if (close == std::string_view::npos) return;
    line.kind = LineKind::Section;
    line.name = Trim(body.substr(1, close - 1));
    return;
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view name = Trim(text.substr(0, equals));
  if (name.empty()) return;
  line.kind = LineKind::Key;
  line.name = name;
  const auto valueOffset = text.find_first_not_of(kBlanks, equals + 1);
  line.valueStart = (valueOffset == std::string_view::npos ? text.size() : valueOffset) +
                    static_cast<std::size_t>(text.data() - line.text.data());
}

Parsed Parse(std::string_view content) {
  Parsed parsed;
  bool eolChosen = false;
  std::size_t pos = 0;
  while (pos < content.size()) {
    Line line;
    const auto newline = content.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? content.size() : newline;
    line.text = content.substr(pos, end - pos);
    if (newline != std::string_view::npos) {
      const bool crlf = !line.text.empty() && line.text.back() == '\r';
      if (crlf) line.text.remove_suffix(1);
      line.eol = content.substr(end - (crlf ? 1 : 0), crlf ? 2 : 1);
      if (!eolChosen) {
        parsed.eol = crlf ? "\r\n" : "\n";
        eolChosen = true;
      }
    }
    Classify(line, parsed.lines.empty());
    parsed.lines.push_back(line);
    pos = end + 1;
  }
  return parsed;
}

// The value as Windows returns it: trimmed, one pair of enclosing quotes removed,
// cut at an embedded NUL.
std::string_view ValueOf(const Line& line) {
  std::string_view value = Trim(line.text.substr(line.valueStart));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  const auto nul = value.find('\0');
  if (nul != std::string_view::npos) value = value.substr(0, nul);
  return value;
}

enum class ReadStatus { Ok, Missing, Unreadable };

// Reads the whole file. Opens without blocking so that a FIFO or a device in the
// file's place cannot hang the caller; only regular files count.
ReadStatus ReadFile(const std::string& path, std::string& content) {
  content.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
  struct stat st {};
  ReadStatus status = ReadStatus::Ok;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) {
    status = ReadStatus::Unreadable;
  } else {
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        status = ReadStatus::Unreadable;
        break;
      }
      if (content.size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(kMaxProfileBytes)) {
        status = ReadStatus::Unreadable;
        break;
      }
      content.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (status != ReadStatus::Ok) content.clear();
  return status;
}

// Finds the first key `key` inside any section named `section`; -1 when absent.
long FindKey(const Parsed& parsed, std::string_view section, std::string_view key) {
  bool inSection = false;
  for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
    const Line& line = parsed.lines[i];
    if (line.kind == LineKind::Section) {
      inSection = EqualsIgnoreCase(line.name, section);
    } else if (inSection && line.kind == LineKind::Key && EqualsIgnoreCase(line.name, key)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files of writers that died mid-write (a hang, a kill) would otherwise
// pile up beside the settings file, one per crash.
void RemoveStaleTemporaries(const std::string& directory, const std::string& base) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  const std::string prefix = "." + base + ".";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || !name.ends_with(kTempSuffix)) continue;
    const std::string pidText(name.substr(prefix.size(), name.size() - prefix.size() - kTempSuffix.size()));
    char* end = nullptr;
    const long pid = std::strtol(pidText.c_str(), &end, 10);
    if (pidText.empty() || *end != '\0' || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// Replaces `path` with `content`: a crash at any moment leaves either the old or
// the new file, and once this returns true the new one survives a power cut.
bool ReplaceFile(const std::string& path, std::string_view content, const struct stat* old) {
  const std::string directory = DirectoryOf(path);
  const std::string base = BaseNameOf(path);
  RemoveStaleTemporaries(directory, base);
  const std::string temp =
      directory + "/." + base + "." + std::to_string(::getpid()) + std::string(kTempSuffix);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  if (ok && old != nullptr) {
    // The replacement is the same file to its users: same owner (when we may
    // give it away, as root may) and same permissions.
    if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
      // Not permitted for an ordinary user on a file of their own group; the mode still applies.
    }
    ::fchmod(fd, old->st_mode & 07777);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool ValidName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == name.npos;
}

// Resolves a symbolic link so that the rename replaces the file it points to, not the link.
std::string WriteTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      std::string target = resolved;
      std::free(resolved);
      return target;
    }
  }
  return path;
}

// Serialises writers of other processes too: a lock on the folder survives the
// rename that replaces the file itself.
class FolderLock {
 public:
  explicit FolderLock(const std::string& directory)
      : fd_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
  std::string result = defaultValue.substr(0, defaultValue.find('\0'));
  std::string content;
  if (ReadFile(NativePath(fileName), content) == ReadStatus::Ok) {
    const Parsed parsed = Parse(content);
    const long index = FindKey(parsed, Trim(section), Trim(key));
    if (index >= 0) result = ValueOf(parsed.lines[static_cast<std::size_t>(index)]);
  }
  if (result.size() > kProfileValueMax) result.resize(kProfileValueMax);
  return result;
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& fileName) {
  const std::string value = GetPrivateProfileString(section, key, "", fileName);
  if (value.empty()) return defaultValue;
  std::size_t pos = 0;
  bool negative = false;
  if (value[pos] == '+' || value[pos] == '-') negative = value[pos++] == '-';
  // Saturates rather than wraps: a huge flag value must still read as set.
  long long magnitude = 0;
  for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
    magnitude = std::min<long long>(magnitude * 10 + (value[pos] - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  const long long signedValue = negative ? -magnitude : std::min<long long>(magnitude, INT_MAX);
  return static_cast<int>(signedValue);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::optional<std::string>& value, const std::string& fileName) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  // Names and values that would read back as something else, or split into
  // further lines, are refused rather than written.
  if (!ValidName(sectionName) || sectionName.find(']') != std::string_view::npos) return false;
  if (keyName.empty() || !ValidName(keyName) || keyName.find('=') != std::string_view::npos ||
      keyName.front() == ';' || keyName.front() == '[') {
    return false;
  }
  if (value && !ValidName(*value)) return false;

  std::lock_guard guard(WriterMutex());
  const std::string path = WriteTarget(NativePath(fileName));
  FolderLock folderLock(DirectoryOf(path));

  std::string content;
  const ReadStatus status = ReadFile(path, content);
  if (status == ReadStatus::Unreadable) return false;
  struct stat old {};
  const bool existed = status == ReadStatus::Ok && ::stat(path.c_str(), &old) == 0;

  const Parsed parsed = Parse(content);
  struct OutLine {
    std::string text;
    std::string eol;
  };
  std::vector<OutLine> out;
  out.reserve(parsed.lines.size() + 3);
  for (const Line& line : parsed.lines) out.push_back({std::string(line.text), std::string(line.eol)});
  const std::string eol(parsed.eol);

  if (!value) {
    // Every copy goes, so that a duplicate further down cannot surface as the value.
    bool inSection = false;
    std::vector<std::size_t> doomed;
    for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
      const Line& line = parsed.lines[i];
      if (line.kind == LineKind::Section) inSection = EqualsIgnoreCase(line.name, sectionName);
      if (inSection && line.kind == LineKind::Key && EqualsIgnoreCase(line.name, keyName))
        doomed.push_back(i);
    }
    if (doomed.empty()) return true;
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(*it));
    }
  } else {
    const std::string entry = std::string(keyName) + "=" + *value;
    const long index = FindKey(parsed, sectionName, keyName);
    if (index >= 0) {
      // Keeps the key's own spelling and spacing; only the value changes.
      const Line& line = parsed.lines[static_cast<std::size_t>(index)];
      out[static_cast<std::size_t>(index)].text = std::string(line.text.substr(0, line.valueStart)) + *value;
    } else {
      // A new key goes after the last key of the first section of that name, so
      // that blank lines and comments that lead into the next section stay there.
      long insertAfter = -1;
      bool inSection = false;
      for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
        const Line& line = parsed.lines[i];
        if (line.kind == LineKind::Section) {
          if (insertAfter >= 0) break;
          inSection = EqualsIgnoreCase(line.name, sectionName);
          if (inSection) insertAfter = static_cast<long>(i);
        } else if (inSection && line.kind == LineKind::Key) {
          insertAfter = static_cast<long>(i);
        }
      }
      if (insertAfter >= 0) {
        const auto at = static_cast<std::size_t>(insertAfter);
        // A file without a final line break keeps that style.
        std::string newEol = eol;
        if (out[at].eol.empty()) {
          out[at].eol = eol;
          newEol.clear();
        }
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at) + 1, OutLine{entry, newEol});
      } else {
        if (!out.empty()) {
          if (out.back().eol.empty()) out.back().eol = eol;
          if (!Trim(out.back().text).empty()) out.push_back({"", eol});
        }
        out.push_back({"[" + std::string(sectionName) + "]", eol});
        out.push_back({entry, eol});
      }
    }
  }

  std::string output;
  output.reserve(content.size() + 128);
  for (const OutLine& line : out) {
    output += line.text;
    output += line.eol;
  }
  return ReplaceFile(path, output, existed ? &old : nullptr);
}

}  // namespace rq::platform
