#include "platform/FileDigest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace rq::platform {
namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::size_t kChunk = 1 << 16;

}  // namespace

std::optional<std::uint64_t> FileDigest(int fd) {
  std::uint64_t digest = kFnvOffset;
  std::vector<unsigned char> chunk(kChunk);
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return digest;
    for (ssize_t i = 0; i < n; ++i) digest = (digest ^ chunk[static_cast<std::size_t>(i)]) * kFnvPrime;
    offset += n;
  }
}

std::optional<std::uint64_t> FileDigest(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  const std::optional<std::uint64_t> digest = FileDigest(fd);
  ::close(fd);
  return digest;
}

}  // namespace rq::platform
