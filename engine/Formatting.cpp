#include "engine/Formatting.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>

namespace rq::engine {
namespace {

constexpr int kSignificantDigits = 15;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accepts [sign] digits [. digits] [(e|E) [sign] digits] with at least one mantissa digit.
bool IsDecimalText(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

// Null when the value does not fit a double.
std::optional<double> ParseChecked(std::string_view text) {
  double value = 0.0;
  // from_chars rejects a leading '+'; the sign was validated already.
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::string FloatToText(double value) {
  std::array<char, 64> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(), value,
                                     std::chars_format::general, kSignificantDigits);
  return std::string(text.data(), written.ptr);
}

std::optional<double> TextToFloat(const std::string& text) {
  std::string_view view(text);
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!view.empty() && blank(view.front())) view.remove_prefix(1);
  while (!view.empty() && blank(view.back())) view.remove_suffix(1);
  if (!IsDecimalText(view)) return std::nullopt;
  return ParseChecked(view);
}

}  // namespace rq::engine
