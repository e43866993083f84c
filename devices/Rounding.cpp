#include "devices/Rounding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rq::devices {

double RoundTo(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  if (decimals < 0) decimals = 0;
  // The magnitude as 15 significant digits: 0.d0d1...d14 x 10^(exponent + 1).
  char text[64];
  std::snprintf(text, sizeof text, "%.14e", std::fabs(value));
  std::string digits;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  const int exponent = std::atoi(p + 1);
  // The digits left of the decimal point plus `decimals` more form the integer
  // that the formatted text shows, scaled by 10^-decimals.
  const int keep = exponent + 1 + decimals;
  std::string shown;
  if (keep >= static_cast<int>(digits.size())) {
    shown = digits + std::string(static_cast<std::size_t>(keep) - digits.size(), '0');
  } else if (keep >= 0) {
    shown = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
      int i = keep - 1;
      for (; i >= 0 && shown[static_cast<std::size_t>(i)] == '9'; --i)
        shown[static_cast<std::size_t>(i)] = '0';
      if (i >= 0) {
        ++shown[static_cast<std::size_t>(i)];
      } else {
        shown.insert(shown.begin(), '1');
      }
    }
  }
  if (shown.empty()) shown = "0";
  const std::string back = shown + "e-" + std::to_string(decimals);
  const double magnitude = std::strtod(back.c_str(), nullptr);
  return value < 0 && magnitude != 0.0 ? -magnitude : magnitude;
}

}  // namespace rq::devices
