#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace rq::sim {

// Bounds a board profile must keep before it reaches the TOML parser, which
// recurses once per level of nesting (a few thousand levels exhaust the stack) and
// slows down more than linearly on long lines and large files. A real profile is a
// few KiB, a few levels deep, with lines of at most a few hundred characters.
struct ProfileLimits {
  static constexpr std::size_t kMaxBytes = 128 * 1024;
  static constexpr std::size_t kMaxLineLength = 8 * 1024;
  // Tables and arrays around a value: `a.b = [1]` puts 1 at depth 2.
  static constexpr int kMaxDepth = 32;
};

// Throws ProfileError ("<origin>: ...", naming the limit and the line) when `text`
// breaks a limit. A cheap pass that knows TOML's strings and comments, so that
// brackets and dots inside them do not count; it does not otherwise check syntax.
void CheckProfileLimits(std::string_view text, const std::string& origin);

}  // namespace rq::sim
