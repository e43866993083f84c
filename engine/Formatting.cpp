#include "engine/Formatting.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

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

double ParseChecked(std::string_view text) {
  double value = 0.0;
  // from_chars rejects a leading '+'; the sign was validated already.
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

double RoundDecimal(double value, int decimals) {
  if (!std::isfinite(value) || value == 0.0) return value;
  // d.dddddddddddddde±x: exactly 15 significant digits.
  std::array<char, 40> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(), std::fabs(value),
                                     std::chars_format::scientific, kSignificantDigits - 1);
  const std::string_view sci(text.data(), static_cast<std::size_t>(written.ptr - text.data()));
  const std::size_t ePos = sci.find('e');
  std::string digits;
  digits += sci[0];
  digits.append(sci.substr(2, ePos - 2));
  int exponent = 0;
  std::from_chars(sci.data() + ePos + (sci[ePos + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);

  // Digits that stay in front of the cut; the rest are rounded away.
  const int keep = exponent + 1 + decimals;
  if (keep >= kSignificantDigits) return value;
  if (keep < 0) return std::copysign(0.0, value);
  long long kept = keep == 0 ? 0 : std::stoll(digits.substr(0, static_cast<std::size_t>(keep)));
  if (digits[static_cast<std::size_t>(keep)] >= '5') ++kept;
  // kept × 10^-decimals, converted from its decimal text so the result is the
  // double nearest to the rounded decimal.
  const std::string rounded = std::to_string(kept) + "e" + std::to_string(-decimals);
  const double magnitude = ParseChecked(rounded);
  return value < 0 ? -magnitude : magnitude;
}

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
  const double value = ParseChecked(view);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace rq::engine
