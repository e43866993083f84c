// The board model: a short name cut from the BIOS model string by the rows below.
// Positions count from 1; T(p, n) is up to n characters from position p.
#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "engine/MSupport.h"

namespace rq::engine {
namespace {

constexpr std::array<std::string_view, 6> kSuffixes = {"PRO", "Pro", "Gra", "GRA", "ELI", "Eli"};

class ModelText {
 public:
  explicit ModelText(const std::string& text) : text_(text) {}

  std::string T(std::size_t position, std::size_t count) const {
    if (position == 0 || position > text_.size()) return {};
    return text_.substr(position - 1, count);
  }

  bool IsSuffix(std::size_t position, std::size_t count) const {
    const std::string part = T(position, count);
    for (std::string_view suffix : kSuffixes) {
      if (part == suffix) return true;
    }
    return false;
  }

  // The standard decimal conversion: optional sign, then digits only.
  bool IsNumber(std::size_t position, std::size_t count) const {
    std::string part = T(position, count);
    if (!part.empty() && part.front() == '+') part.erase(0, 1);
    if (part.empty() || part == "-") return false;
    long value = 0;
    const char* end = part.data() + part.size();
    const auto result = std::from_chars(part.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
  }

  bool IsUpperLetter(std::size_t position) const {
    const std::string part = T(position, 1);
    return !part.empty() && part >= "A" && part <= "Z";
  }

 private:
  const std::string& text_;
};

std::string ModelForU(const ModelText& s) {
  if (s.IsSuffix(10, 3)) return s.T(1, 5) + s.T(10, 3);
  if (s.T(9, 2) == "-D") return s.T(1, 5) + s.T(10, 1);
  return s.T(1, 5);
}

std::string ModelForM(const ModelText& s) {
  const std::string stem = s.IsNumber(5, 4) ? s.T(2, 3) : s.T(1, 5);
  return s.IsSuffix(13, 3) ? stem + s.T(13, 3) : stem;
}

std::string ModelForUpperAt8(const ModelText& s) {
  const std::string stem = s.IsNumber(4, 4) ? s.T(1, 3) : s.T(1, 5);
  return s.IsSuffix(10, 3) ? stem + s.T(10, 3) : stem;
}

std::string ModelForOther(const ModelText& s) {
  if (!s.IsNumber(4, 4)) return s.IsSuffix(12, 3) ? s.T(1, 5) + s.T(12, 3) : s.T(1, 5);
  if (s.IsSuffix(12, 3) || s.T(12, 3) == "800") {
    if (s.T(15, 2) == "-D") return s.T(1, 3) + s.T(12, 3) + s.T(16, 1);
    return s.T(1, 3) + s.T(12, 3);
  }
  if (s.T(11, 2) == "-D" || s.T(12, 2) == "D2" || s.T(12, 1) == "V") return s.T(1, 3) + s.T(12, 1);
  return s.T(1, 3);
}

}  // namespace

std::string DeriveBoardModel(const std::string& biosModel) {
  const ModelText s(biosModel);
  const std::string first = s.T(1, 1);
  if (first == "U") return ModelForU(s);
  if (first == "M") return ModelForM(s);
  if (s.IsUpperLetter(8)) return ModelForUpperAt8(s);
  return ModelForOther(s);
}

}  // namespace rq::engine
