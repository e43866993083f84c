#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rq::platform {

// Private-profile (INI) files with the Windows semantics the settings rely on:
// section and key names compare case-insensitively; a missing file, section or
// key yields the default; a returned value holds at most 255 characters; writing
// no value removes the key; every other line of the file is kept as it was.
// Lines end at any run of CR and LF; a ^Z at a line's end is a blank. Files with a
// byte-order mark (UTF-8, UTF-16 LE or BE) are read as text and written back in
// their own encoding; values come and go as UTF-8.
// Writes replace the file atomically and durably (temporary file, fsync, rename,
// directory fsync), so a crash or a hang leaves either the old or the new file;
// the first write of a file too, which nobody sees under its name before it is
// whole. Where only the file, not its folder, may be written, the file is
// rewritten in place in steps (InPlaceRewrite) after which each key reads its old
// or its new value, never another, wherever a crash stops them. Writers of every process are serialised by a
// lock on the file.
// Only a regular file of the effective user that no one else may write is read or
// written: a symbolic link, a FIFO or device, a file of another user or one that
// group or others may write reads as missing, and writes to it fail (EPERM).

inline constexpr std::size_t kProfileValueMax = 255;

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);

// The leading decimal integer of the value (optional sign), or the default when the
// key is missing; a value that starts with no digit reads as 0.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& fileName);

// Writes `value`, or removes the key when `value` is empty (nullopt). Returns false
// when the file could not be written; the old file is then left untouched and
// errno says why (EACCES for a read-only file, EILSEQ for text the file's encoding
// cannot hold, EINVAL for a name or value that would read back differently). A
// file that already says what is asked is not written, so that succeeds even
// when the file is read-only.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::optional<std::string>& value, const std::string& fileName);

// A key and its value (nullopt removes the key).
using ProfileEntry = std::pair<std::string, std::optional<std::string>>;

// Writes several keys of one section as one change: the file holds either all of
// them or none, and is written (and synced) once. Same rules as above.
bool WritePrivateProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                                const std::string& fileName);

// One step of rewriting a file in place: `bytes` written at `offset`, or with `cut`
// the file cut to `offset`; `sync` ends a phase (fsync before the next step).
struct InPlaceStep {
  std::size_t offset = 0;
  std::string bytes;
  bool cut = false;
  bool sync = false;
};

// The steps that turn the file `old` into `fresh` (same encoding) where they lie;
// any prefix of them, the last write possibly torn, reads each key as in `old`
// or as in `fresh`.
std::vector<InPlaceStep> InPlaceRewrite(std::string_view old, std::string_view fresh);

// Why the file is refused (see above): "is a symbolic link", "belongs to another
// user (uid N)", ...; nothing for a file that is used, or a missing one.
std::optional<std::string> CheckProfileFile(const std::string& fileName);

}  // namespace rq::platform
