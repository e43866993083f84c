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
#include <cstdint>
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
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kBlanks = " \t\v\f";
// The DOS end-of-file mark (^Z) that old editors leave behind counts as a blank
// where a line ends.
constexpr char kEofMark = '\x1A';
constexpr std::string_view kTrailingBlanks = " \t\v\f\x1A";
constexpr std::string_view kLineBreaks = "\r\n";
constexpr std::string_view kTempSuffix = ".tmp";
// Settings are the user's own business: a new file is readable by nobody else.
constexpr mode_t kNewFileMode = 0600;
// A writer retries when the file it locked was replaced meanwhile; every retry
// means another writer finished, so only a file that keeps vanishing (a dangling
// link) exhausts this.
constexpr int kLockAttempts = 1000;

std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kTrailingBlanks);
  if (last == std::string_view::npos) return {};
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

// --- Encodings -----------------------------------------------------------------
// Files are parsed as UTF-8 (or plain bytes) and written back in the encoding they
// came in, byte-order mark included, so that one file never mixes encodings.

enum class Encoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

bool IsUtf16(Encoding encoding) { return encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be; }

constexpr std::uint32_t kHighSurrogateFirst = 0xD800;
constexpr std::uint32_t kLowSurrogateFirst = 0xDC00;
constexpr std::uint32_t kLowSurrogateLast = 0xDFFF;
constexpr std::uint32_t kFirstSupplementary = 0x10000;
constexpr std::uint32_t kLastCodePoint = 0x10FFFF;

bool IsHighSurrogate(std::uint32_t unit) { return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast; }

// Unpaired surrogates are kept as three-byte sequences, so that even a damaged
// UTF-16 file is written back exactly as it was read.
void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < kFirstSupplementary) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The next code point of `text` at `pos` (advanced past it); nothing for bytes
// that are not UTF-8 (surrogates allowed, as AppendUtf8 writes them).
std::optional<std::uint32_t> NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = 0;
  std::uint32_t c = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, minimum = kFirstSupplementary;
  } else {
    return std::nullopt;
  }
  if (pos + length > text.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  if (c < minimum || c > kLastCodePoint) return std::nullopt;
  pos += length;
  return c;
}

// The file's text as UTF-8 (or plain bytes) without its byte-order mark: a view
// of `raw` itself, or of `decoded` for a UTF-16 file.
std::string_view Decode(std::string_view raw, Encoding& encoding, std::string& decoded) {
  if (raw.starts_with(kUtf8Bom)) {
    encoding = Encoding::Utf8Bom;
    return raw.substr(kUtf8Bom.size());
  }
  const bool littleEndian = raw.starts_with(kUtf16LeBom);
  if (!littleEndian && !raw.starts_with(kUtf16BeBom)) {
    encoding = Encoding::Plain;
    return raw;
  }
  encoding = littleEndian ? Encoding::Utf16Le : Encoding::Utf16Be;
  const auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto first = static_cast<unsigned char>(raw[i]);
    const auto second = static_cast<unsigned char>(raw[i + 1]);
    return littleEndian ? (second << 8 | first) : (first << 8 | second);
  };
  decoded.clear();
  decoded.reserve(raw.size());
  for (std::size_t i = kUtf16LeBom.size(); i + 1 < raw.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (IsHighSurrogate(c) && i + 3 < raw.size() && IsLowSurrogate(unit(i + 2))) {
      c = kFirstSupplementary + ((c - kHighSurrogateFirst) << 10) + (unit(i + 2) - kLowSurrogateFirst);
      i += 2;
    }
    AppendUtf8(decoded, c);
  }
  return decoded;
}

// The file's bytes for `utf8` in `encoding`; nothing when the text cannot be put
// in that encoding (bytes that are not UTF-8 in a UTF-16 file).
std::optional<std::string> Encode(Encoding encoding, std::string&& utf8) {
  if (encoding == Encoding::Plain) return std::move(utf8);
  if (encoding == Encoding::Utf8Bom) return utf8.insert(0, kUtf8Bom);
  const bool littleEndian = encoding == Encoding::Utf16Le;
  std::string out(littleEndian ? kUtf16LeBom : kUtf16BeBom);
  out.reserve(out.size() + utf8.size() * 2);
  const auto putUnit = [&](std::uint32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += littleEndian ? low : high;
    out += littleEndian ? high : low;
  };
  for (std::size_t pos = 0; pos < utf8.size();) {
    const auto c = NextCodePoint(utf8, pos);
    if (!c) return std::nullopt;
    if (*c < kFirstSupplementary) {
      putUnit(*c);
    } else {
      putUnit(kHighSurrogateFirst + ((*c - kFirstSupplementary) >> 10));
      putUnit(kLowSurrogateFirst + ((*c - kFirstSupplementary) & 0x3FF));
    }
  }
  return out;
}

// --- Lines ---------------------------------------------------------------------

enum class LineKind { Other, Section, Key };

struct Line {
  std::string_view text;  // without its line break
  std::string_view eol;   // the line break as found, or "" for a last line without one
  LineKind kind = LineKind::Other;
  std::string_view name;       // section or key name, trimmed
  std::size_t valueStart = 0;  // offset in `text` where a key's value begins
};

struct Parsed {
  std::vector<Line> lines;
  std::string_view eol = "\n";  // what new lines get: the file's own style
};

void Classify(Line& line) {
  const std::string_view text = line.text;
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
  line.valueStart = valueOffset == std::string_view::npos ? text.size() : valueOffset;
}

// A line ends at CR, LF or CR..CR LF (files that passed through editors which
// doubled the CR). CRs not followed by LF end a line each, so blank lines of a
// CR-only file stay lines of their own; since blank lines never match, any run
// of CR and LF ends a line as far as a reader can tell.
std::size_t LineBreakLength(std::string_view content, std::size_t at) {
  if (content[at] == '\n') return 1;
  std::size_t end = at;
  while (end < content.size() && content[end] == '\r') ++end;
  return end < content.size() && content[end] == '\n' ? end - at + 1 : 1;
}

std::string_view LineBreakStyle(std::string_view eol) {
  if (eol == "\n") return "\n";
  return eol.back() == '\n' ? "\r\n" : "\r";
}

Parsed Parse(std::string_view content) {
  Parsed parsed;
  bool eolChosen = false;
  std::size_t pos = 0;
  while (pos < content.size()) {
    Line line;
    const auto lineBreak = content.find_first_of(kLineBreaks, pos);
    const std::size_t end = lineBreak == std::string_view::npos ? content.size() : lineBreak;
    line.text = content.substr(pos, end - pos);
    pos = end;
    if (lineBreak != std::string_view::npos) {
      line.eol = content.substr(end, LineBreakLength(content, end));
      pos += line.eol.size();
      if (!eolChosen) {
        parsed.eol = LineBreakStyle(line.eol);
        eolChosen = true;
      }
    }
    Classify(line);
    parsed.lines.push_back(line);
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

bool IsEofMarkLine(std::string_view text) {
  return text.find(kEofMark) != std::string_view::npos &&
         text.find_first_not_of(kTrailingBlanks) == text.npos;
}

struct OutLine {
  std::string text;
  std::string eol;
};

void RemoveKey(const Parsed& parsed, std::string_view section, std::string_view key,
               std::vector<OutLine>& out) {
  // Every copy goes, so that a duplicate further down cannot surface as the value.
  bool inSection = false;
  std::vector<std::size_t> doomed;
  for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
    const Line& line = parsed.lines[i];
    if (line.kind == LineKind::Section) inSection = EqualsIgnoreCase(line.name, section);
    if (inSection && line.kind == LineKind::Key && EqualsIgnoreCase(line.name, key)) doomed.push_back(i);
  }
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(*it));
  }
}

void AddKey(const Parsed& parsed, std::string_view section, const std::string& entry,
            std::vector<OutLine>& out) {
  const std::string eol(parsed.eol);
  // A new key goes after the last key of the first section of that name, so that
  // blank lines and comments that lead into the next section stay there.
  long insertAfter = -1;
  bool inSection = false;
  for (std::size_t i = 0; i < parsed.lines.size(); ++i) {
    const Line& line = parsed.lines[i];
    if (line.kind == LineKind::Section) {
      if (insertAfter >= 0) break;
      inSection = EqualsIgnoreCase(line.name, section);
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
    return;
  }
  // A new section goes at the end, but before an end-of-file mark, which stays last.
  std::size_t end = out.size();
  if (end > 0 && IsEofMarkLine(out.back().text)) --end;
  std::vector<OutLine> added;
  if (end > 0) {
    if (out[end - 1].eol.empty()) out[end - 1].eol = eol;
    if (!Trim(out[end - 1].text).empty()) added.push_back({"", eol});
  }
  added.push_back({"[" + std::string(section) + "]", eol});
  added.push_back({entry, eol});
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(end), added.begin(), added.end());
}

// The file's text with the key set to `value`, or removed when there is none.
std::string Edited(std::string_view content, std::string_view section, std::string_view key,
                   const std::optional<std::string>& value) {
  const Parsed parsed = Parse(content);
  std::vector<OutLine> out;
  out.reserve(parsed.lines.size() + 3);
  for (const Line& line : parsed.lines) out.push_back({std::string(line.text), std::string(line.eol)});

  if (!value) {
    RemoveKey(parsed, section, key, out);
  } else if (const long index = FindKey(parsed, section, key); index >= 0) {
    // Keeps the key's own spelling and spacing, and an end-of-file mark after the
    // value; only the value changes.
    const Line& line = parsed.lines[static_cast<std::size_t>(index)];
    std::size_t markStart = line.text.size();
    while (markStart > line.valueStart && line.text[markStart - 1] == kEofMark) --markStart;
    out[static_cast<std::size_t>(index)].text =
        std::string(line.text.substr(0, line.valueStart)) + *value + std::string(line.text.substr(markStart));
  } else {
    AddKey(parsed, section, std::string(key) + "=" + *value, out);
  }

  std::string output;
  output.reserve(content.size() + 128);
  for (const OutLine& line : out) {
    output += line.text;
    output += line.eol;
  }
  return output;
}

// --- Files ---------------------------------------------------------------------

// Reads all of an open regular file from its start.
bool ReadAllOf(int fd, std::string& content) {
  content.clear();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) return false;
  content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()));
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (content.size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(kMaxProfileBytes)) {
      errno = EFBIG;
      return false;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

// Why a settings file is not to be trusted, or nothing when it is: only a regular
// file of the effective user that nobody else may write is read, so that another
// user cannot make us act on settings of their choosing. A FIFO or device in its
// place cannot hang us either: the open does not block.
std::optional<std::string> Distrust(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_uid != ::geteuid()) return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "may be written by other users";
  return std::nullopt;
}

// The file opened for reading when it is one to trust; -1 otherwise, with errno
// ENOENT for a missing file and EPERM for one that is refused (`why` says why).
int OpenTrusted(const std::string& path, std::string* why = nullptr) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ELOOP) {
      if (why != nullptr) *why = "is a symbolic link";
      errno = EPERM;
    }
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (const auto problem = Distrust(st)) {
    if (why != nullptr) *why = *problem;
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

// The whole file, or nothing when it is missing, refused or cannot be read.
std::optional<std::string> ReadFile(const std::string& path) {
  const int fd = OpenTrusted(path);
  if (fd < 0) return std::nullopt;
  std::string content;
  const bool ok = ReadAllOf(fd, content);
  ::close(fd);
  if (!ok) return std::nullopt;
  return content;
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

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A read-only file is left alone even by root, as the read-only attribute is on
// Windows; otherwise the effective user must be allowed to write it.
bool MayWrite(const std::string& path, const struct stat& st) {
  return (st.st_mode & 0222) != 0 && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// The settings file itself, opened and, when we may write it, locked against
// writers in other processes. The lock is on the file rather than its folder, so
// that it also works in a folder that cannot be listed or written. A writer that
// replaced the file meanwhile leaves us holding the lock of the old one, so after
// locking we check that the name still leads to the file we locked, and start
// over with the new one otherwise.
class LockedFile {
 public:
  enum class State { Missing, Failed, ReadOnly, Locked };

  LockedFile() = default;
  ~LockedFile() { Close(); }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  State Open(const std::string& path) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
      Close();
      fd_ = OpenTrusted(path);
      if (fd_ < 0) return errno == ENOENT || errno == ENOTDIR ? State::Missing : State::Failed;
      if (!Stat()) return State::Failed;
      // Checked before waiting, so that nobody can hold us up with a file we would not write anyway.
      if (!MayWrite(path, st_)) return State::ReadOnly;
      int rc;
      do {
        rc = ::flock(fd_, LOCK_EX);
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) return State::Failed;
      struct stat now {};
      if (::lstat(path.c_str(), &now) == 0 && SameFile(now, st_)) {
        if (!Stat()) return State::Failed;
        return MayWrite(path, st_) ? State::Locked : State::ReadOnly;
      }
    }
    errno = EAGAIN;
    return State::Failed;
  }

  int Fd() const { return fd_; }
  const struct stat& Status() const { return st_; }

 private:
  bool Stat() { return ::fstat(fd_, &st_) == 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  struct stat st_ {};
};

// Temporary files of writers that died mid-write (a hang, a kill) would otherwise
// pile up beside the settings file, one per crash.
void RemoveStaleTemporaries(int dirFd, const std::string& base) {
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return;
  }
  const std::string prefix = "." + base + ".";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || !name.ends_with(kTempSuffix)) continue;
    const std::string pidText(name.substr(prefix.size(), name.size() - prefix.size() - kTempSuffix.size()));
    char* end = nullptr;
    const long pid = std::strtol(pidText.c_str(), &end, 10);
    if (pidText.empty() || *end != '\0' || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlinkat(dirFd, entry->d_name, 0);
  }
  ::closedir(dir);
}

enum class Replaced { Done, Failed, NoTemporary, Exists };

// Writes `content` whole and durably to a fresh temporary beside the file; its
// name, or nothing (errno says why). A name left by someone else is removed
// first rather than opened: we write only into a file we made.
std::optional<std::string> WriteTemporary(int dirFd, const std::string& base, std::string_view content,
                                          mode_t mode) {
  RemoveStaleTemporaries(dirFd, base);
  const std::string temp = "." + base + "." + std::to_string(::getpid()) + std::string(kTempSuffix);
  ::unlinkat(dirFd, temp.c_str(), 0);
  const int fd = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::nullopt;
  bool ok = WriteAll(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) return temp;
  const int error = errno;
  ::unlinkat(dirFd, temp.c_str(), 0);
  errno = error;
  return std::nullopt;
}

// The folder's entries made durable; some file systems cannot sync a folder at
// all, so only a real failure counts.
bool SyncFolder(int dirFd) { return ::fsync(dirFd) == 0 || errno == EINVAL || errno == ENOTSUP; }

// Moves the finished temporary to `base`; with `replace` false only where nothing
// of that name exists (Exists otherwise), so a file is never seen under its name
// before it is whole, and a file another writer created meanwhile is not lost.
Replaced Install(int dirFd, const std::string& temp, const std::string& base, bool replace) {
  int rc = replace ? ::renameat(dirFd, temp.c_str(), dirFd, base.c_str())
                   : ::renameat2(dirFd, temp.c_str(), dirFd, base.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace rename: a link never replaces either.
    rc = ::linkat(dirFd, temp.c_str(), dirFd, base.c_str(), 0);
    if (rc == 0) ::unlinkat(dirFd, temp.c_str(), 0);
  }
  if (rc != 0) {
    const int error = errno;
    ::unlinkat(dirFd, temp.c_str(), 0);
    errno = error;
    return !replace && error == EEXIST ? Replaced::Exists : Replaced::Failed;
  }
  return SyncFolder(dirFd) ? Replaced::Done : Replaced::Failed;
}

// Replaces the file with `content`: a crash at any moment leaves either the old
// or the new file, and once this is done the new one survives a power cut. The
// replacement keeps the old file's permissions; its owner is ours already, as
// only files of our own are written.
Replaced ReplaceFile(int dirFd, const std::string& base, std::string_view content, const struct stat& old) {
  const auto temp = WriteTemporary(dirFd, base, content, old.st_mode & 07777);
  if (!temp) return errno == EACCES || errno == EPERM ? Replaced::NoTemporary : Replaced::Failed;
  return Install(dirFd, *temp, base, true);
}

class FolderFd {
 public:
  explicit FolderFd(const std::string& path)
      : fd_(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The first write of a file is as safe as any later one: the whole file goes in
// under its name at once, private to the user. Exists when another writer was quicker.
Replaced CreateFile(const std::string& path, std::string_view content) {
  const FolderFd folder(path);
  if (folder.Get() < 0) return Replaced::Failed;
  const std::string base = BaseNameOf(path);
  const auto temp = WriteTemporary(folder.Get(), base, content, kNewFileMode);
  if (!temp) return Replaced::Failed;
  return Install(folder.Get(), *temp, base, false);
}

// --- Rewriting in place ---------------------------------------------------------
// A file we may write in a folder we may not cannot be replaced whole, so its
// bytes are rewritten where they lie. Readers take the first copy of a key, and a
// line whose first character is ';' is a comment; the steps below use both so
// that whatever prefix of them has reached the file (a writer killed at any byte
// of any write), each key reads its old value or its new one, never a mix:
//   1. Behind the old text, which first gets a final line break, a copy of the new
//      text with every section and key line commented out. Only comments and
//      blanks are added, so the old text reads as before.
//   2. The copy's lines come alive one by one (one character each, its first):
//      a key the old text also has stays hidden behind it; a new key appears
//      whole. Lines before the copy's first section stay comments, as they would
//      otherwise fall into the old text's last section.
//   3. The old section and key lines are commented out one by one, last first, so
//      that each key hands over to the copy's value (or to none, for a removed key)
//      and never to an older duplicate further down; a section goes only once no
//      key after it is left.
//   4. The old text, now only comments, blanks and lines that match nothing, is
//      overwritten with ';': a cut anywhere leaves one comment line glued to such
//      lines. Whichever blocks of the next step a power cut keeps, no remains of an
//      old line are left for its lines to be glued to.
//   5. The new text, commented out as in 1 and ending with a line break, over the
//      start of that comment. A cut glues a commented line, or the start of one, to
//      the ';' run: a comment still, never the tail of a line read as a key.
//   6. Its lines come alive one by one, each ahead of the same value in the copy.
//   7. The file is cut to the new length: the copy and the padding go.
// Every step is synced before the next, so the order also holds across a power
// cut. The file grows to about twice its size meanwhile.

// A file's lines as bytes: where each starts and whether a reader acts on it.
struct ByteLine {
  std::size_t start = 0;
  bool live = false;            // a section or key line
  bool beforeSections = false;  // ahead of the first section line
};

struct ByteLayout {
  Encoding encoding = Encoding::Plain;
  std::size_t textStart = 0;  // after the byte-order mark
  std::size_t unit = 1;       // bytes of one ASCII character
  std::string eol;            // the file's line break, encoded
  bool endsWithBreak = true;
  std::vector<ByteLine> lines;
};

// Bytes of `text` (UTF-8 as decoded) in `encoding`.
std::size_t EncodedSize(Encoding encoding, std::string_view text) {
  if (!IsUtf16(encoding)) return text.size();
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto c = NextCodePoint(text, pos);
    if (!c) return 0;  // cannot happen: decoded UTF-16 is always well-formed
    units += *c >= kFirstSupplementary ? 2 : 1;
  }
  return 2 * units;
}

// An ASCII text in `encoding`, without a byte-order mark.
std::string EncodedAscii(Encoding encoding, std::string_view ascii) {
  if (!IsUtf16(encoding)) return std::string(ascii);
  std::string out;
  for (const char c : ascii) {
    out += encoding == Encoding::Utf16Le ? c : '\0';
    out += encoding == Encoding::Utf16Le ? '\0' : c;
  }
  return out;
}

ByteLayout LayOut(std::string_view bytes) {
  ByteLayout layout;
  std::string decoded;
  const std::string_view text = Decode(bytes, layout.encoding, decoded);
  layout.unit = IsUtf16(layout.encoding) ? 2 : 1;
  layout.textStart = bytes.size() - EncodedSize(layout.encoding, text);
  const Parsed parsed = Parse(text);
  layout.eol = EncodedAscii(layout.encoding, parsed.eol);
  layout.endsWithBreak = parsed.lines.empty() || !parsed.lines.back().eol.empty();
  std::size_t at = layout.textStart;
  bool sectionSeen = false;
  for (const Line& line : parsed.lines) {
    sectionSeen = sectionSeen || line.kind == LineKind::Section;
    layout.lines.push_back({at, line.kind != LineKind::Other, !sectionSeen});
    at += EncodedSize(layout.encoding, line.text) + EncodedSize(layout.encoding, line.eol);
  }
  return layout;
}

// The text of `bytes` (without its mark) with every section and key line
// turned into a comment.
std::string Commented(std::string_view bytes, const ByteLayout& layout, const std::string& comment) {
  std::string out(bytes.substr(layout.textStart));
  for (const ByteLine& line : layout.lines) {
    if (line.live) out.replace(line.start - layout.textStart, layout.unit, comment);
  }
  return out;
}

std::string Repeated(const std::string& unit, std::size_t bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes / unit.size(); ++i) out += unit;
  return out;
}

}  // namespace

std::vector<InPlaceStep> InPlaceRewrite(std::string_view old, std::string_view fresh) {
  const ByteLayout before = LayOut(old);
  const ByteLayout after = LayOut(fresh);
  const std::string& eol = after.eol;
  const std::string comment = EncodedAscii(after.encoding, ";");
  const std::size_t oldEnd = old.size() + (before.endsWithBreak ? 0 : eol.size());
  const std::size_t freshEnd = fresh.size() + (after.endsWithBreak ? 0 : eol.size());
  const std::size_t padEnd = std::max(oldEnd, freshEnd);
  const std::size_t copyAt = padEnd + eol.size();
  const auto firstCharacter = [&](const ByteLine& line) {
    return std::string(fresh.substr(line.start, after.unit));
  };

  std::vector<InPlaceStep> steps;
  // 1.
  steps.push_back({old.size(), (before.endsWithBreak ? "" : eol) +
                                   Repeated(EncodedAscii(after.encoding, " "), padEnd - oldEnd) + eol +
                                   Commented(fresh, after, comment)});
  const auto endPhase = [&] { steps.back().sync = true; };
  endPhase();
  // 2.
  for (const ByteLine& line : after.lines) {
    if (line.live && !line.beforeSections)
      steps.push_back({copyAt + line.start - after.textStart, firstCharacter(line)});
  }
  endPhase();
  // 3.
  for (auto line = before.lines.rbegin(); line != before.lines.rend(); ++line) {
    if (line->live && !line->beforeSections) steps.push_back({line->start, comment});
  }
  endPhase();
  // 4.
  steps.push_back({after.textStart, Repeated(comment, padEnd - after.textStart), false, true});
  // 5.
  steps.push_back(
      {after.textStart, Commented(fresh, after, comment) + (after.endsWithBreak ? "" : eol), false, true});
  // 6.
  for (const ByteLine& line : after.lines) {
    if (line.live) steps.push_back({line.start, firstCharacter(line)});
  }
  endPhase();
  // 7.
  steps.push_back({fresh.size(), {}, true, true});
  return steps;
}

namespace {

bool WriteAllAt(int fd, std::string_view data, std::size_t offset) {
  while (!data.empty()) {
    const ssize_t put = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
    offset += static_cast<std::size_t>(put);
  }
  return true;
}

// For a file we may write in a folder we may not (or cannot open to make a rename
// durable): `fresh` over `old` in the steps of InPlaceRewrite, each phase synced.
bool WriteInPlace(const std::string& path, std::string_view old, std::string_view fresh,
                  const struct stat& locked) {
  const std::vector<InPlaceStep> steps = InPlaceRewrite(old, fresh);
  std::size_t largest = 0;
  for (const InPlaceStep& step : steps) largest = std::max(largest, step.offset + step.bytes.size());
  if (largest > static_cast<std::size_t>(kMaxProfileBytes)) {
    errno = EFBIG;  // readers would take the file for unreadable meanwhile
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && SameFile(st, locked);
  if (!ok) errno = ESTALE;
  for (auto step = steps.begin(); ok && step != steps.end(); ++step) {
    ok = step->cut ? ::ftruncate(fd, static_cast<off_t>(step->offset)) == 0
                   : WriteAllAt(fd, step->bytes, step->offset);
    ok = ok && (!step->sync || ::fsync(fd) == 0);
  }
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

bool Store(const std::string& path, std::string_view old, std::string_view content,
           const struct stat& locked) {
  {
    const FolderFd folder(path);
    if (folder.Get() >= 0) {
      const Replaced replaced = ReplaceFile(folder.Get(), BaseNameOf(path), content, locked);
      if (replaced != Replaced::NoTemporary) return replaced == Replaced::Done;
    }
  }
  return WriteInPlace(path, old, content, locked);
}

bool ValidName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == name.npos;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
  std::string result = defaultValue.substr(0, defaultValue.find('\0'));
  if (const auto content = ReadFile(NativePath(fileName))) {
    Encoding encoding;
    std::string decoded;
    const Parsed parsed = Parse(Decode(*content, encoding, decoded));
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
  return WritePrivateProfileStrings(section, {{key, value}}, fileName);
}

bool WritePrivateProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                                const std::string& fileName) {
  const std::string_view sectionName = Trim(section);
  // Names and values that would read back as something else, or split into
  // further lines, are refused rather than written.
  if (!ValidName(sectionName) || sectionName.find(']') != std::string_view::npos) {
    errno = EINVAL;
    return false;
  }
  bool adds = false;
  for (const auto& [key, value] : entries) {
    const std::string_view keyName = Trim(key);
    if (keyName.empty() || !ValidName(keyName) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == ';' || keyName.front() == '[' || (value && !ValidName(*value))) {
      errno = EINVAL;
      return false;
    }
    adds = adds || value.has_value();
  }

  std::lock_guard guard(WriterMutex());
  const std::string path = NativePath(fileName);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    LockedFile file;
    const LockedFile::State state = file.Open(path);
    if (state == LockedFile::State::Failed) return false;
    if (state == LockedFile::State::Missing && !adds) return true;  // nothing to remove

    std::string content;
    if (state != LockedFile::State::Missing && !ReadAllOf(file.Fd(), content)) return false;
    Encoding encoding;
    std::string decoded;
    std::string edited(Decode(content, encoding, decoded));
    for (const auto& [key, value] : entries) edited = Edited(edited, sectionName, Trim(key), value);
    // A UTF-16 file of odd length would not survive the rewrite whole.
    const bool whole = !IsUtf16(encoding) || content.size() % 2 == 0;
    const auto output = whole ? Encode(encoding, std::move(edited)) : std::nullopt;
    if (!output) {
      errno = EILSEQ;
      return false;
    }
    if (state == LockedFile::State::Missing) {
      const Replaced created = CreateFile(path, *output);
      if (created == Replaced::Exists) continue;  // another writer was quicker: edit theirs
      return created == Replaced::Done;
    }
    if (*output == content) return true;  // already says so: nothing to write
    if (state == LockedFile::State::ReadOnly) {
      errno = EACCES;
      return false;
    }
    return Store(path, content, *output, file.Status());
  }
  errno = EAGAIN;
  return false;
}

std::optional<std::string> CheckProfileFile(const std::string& fileName) {
  std::string why;
  const int fd = OpenTrusted(NativePath(fileName), &why);
  if (fd >= 0) ::close(fd);
  if (why.empty()) return std::nullopt;
  return why;
}

}  // namespace rq::platform
