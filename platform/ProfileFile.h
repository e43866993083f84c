#pragma once
#include <optional>
#include <string>

namespace rq::platform {

// Private-profile (INI) files with the Windows semantics the settings rely on:
// section and key names compare case-insensitively; a missing file, section or
// key yields the default; a returned value holds at most 255 characters; writing
// no value removes the key; every other line of the file is kept as it was.
// Writes replace the file atomically and durably (temporary file, fsync, rename,
// directory fsync), so a crash or a hang leaves either the old or the new file.

inline constexpr std::size_t kProfileValueMax = 255;

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);

// The leading decimal integer of the value (optional sign), or the default when the
// key is missing; a value that starts with no digit reads as 0.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& fileName);

// Writes `value`, or removes the key when `value` is empty (nullopt). Returns false
// when the file could not be written; the old file is then left untouched.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::optional<std::string>& value, const std::string& fileName);

}  // namespace rq::platform
