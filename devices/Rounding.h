#pragma once
#include <array>
#include <charconv>
#include <cmath>
#include <concepts>
#include <limits>
#include <string>
#include <system_error>

namespace rq::devices {

namespace detail {

// Rounds the decimal text of |v| (as many significant digits as T reliably holds,
// so that the noise of the last binary digits never decides a tie) half away from
// zero at `decimals` places after the point, and reads the text back as a Result.
// Text work is locale-independent: the GUI runs under the user's locale.
template <std::floating_point Result, std::floating_point T>
Result RoundDecimalText(T v, int decimals) {
  if (!std::isfinite(v) || v == 0) return static_cast<Result>(v);
  constexpr int kSignificant = std::numeric_limits<T>::digits10;
  std::array<char, 64> text{};
  const auto printed = std::to_chars(text.data(), text.data() + text.size(), std::fabs(v),
                                     std::chars_format::scientific, kSignificant - 1);
  if (printed.ec != std::errc()) return static_cast<Result>(v);
  // text is "d.ddd...e±xx": collect the digits and the exponent of the first one.
  std::string digits;
  const char* p = text.data();
  for (; p != printed.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  int exponent = 0;
  if (p != printed.ptr) {
    ++p;
    if (*p == '+') ++p;
    std::from_chars(p, printed.ptr, exponent);
  }
  // Digits kept: those before the point (exponent + 1) and `decimals` after it.
  const long keep = static_cast<long>(exponent) + 1 + decimals;
  // A value that rounds to zero reads back as 0.0, without a sign.
  if (keep < 0) return Result(0);
  if (keep < static_cast<long>(digits.size())) {
    const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (up) {
      std::size_t i = digits.size();
      while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
      if (i == 0) {
        digits.insert(digits.begin(), '1');
        ++exponent;
      } else {
        ++digits[i - 1];
      }
    }
  }
  if (digits.empty()) return Result(0);
  // Value = digits × 10^(exponent + 1 - digits.size()).
  std::string rounded = std::signbit(v) ? "-" : "";
  rounded += digits;
  rounded += 'e';
  rounded += std::to_string(static_cast<long>(exponent) + 1 - static_cast<long>(digits.size()));
  Result result{};
  const auto parsed = std::from_chars(rounded.data(), rounded.data() + rounded.size(), result);
  if (parsed.ec != std::errc()) return static_cast<Result>(v);
  return result;
}

}  // namespace detail

// Rounds as formatting with a "0.0" ("00.00", ...) pattern and converting the text
// back does: `decimals` places, ties away from zero on the decimal text. Clocks,
// voltages and temperatures are all rounded this way, in the precision they were
// computed in (pass a long double when the value was formed in extended precision).
template <std::floating_point T>
T RoundTo(T v, int decimals) {
  return detail::RoundDecimalText<T>(v, decimals);
}

// The same for a value formed in extended precision that is kept as a double: the
// text is read straight into the double, so no second rounding step intervenes.
inline double RoundToDouble(long double v, int decimals) {
  return detail::RoundDecimalText<double>(v, decimals);
}

}  // namespace rq::devices
