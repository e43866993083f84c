#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace rq::platform {

// A 64-bit FNV-1a digest of a file's whole content, read from the open
// descriptor (from offset 0, its position untouched); nothing when it cannot be
// read. Tells two builds of a program apart: the daemon reports the digest of
// its own program file, the set-up compares it with the file it would start.
std::optional<std::uint64_t> FileDigest(int fd);
std::optional<std::uint64_t> FileDigest(const std::string& path);

}  // namespace rq::platform
