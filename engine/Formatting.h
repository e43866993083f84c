#pragma once
#include <optional>
#include <string>

namespace rq::engine {

// Clocks are rounded the way the settings and read-outs have always rounded them:
// the value is taken to 15 significant decimal digits and then rounded half away
// from zero, so 132.5 rounds to 133 although its binary form would round to even.
// `decimals` = 0 is the pattern "0" (and "00", whose extra digit only pads the
// text), 1 is "0.0".
double RoundDecimal(double value, int decimals);

// Decimal text of a clock as the settings file stores it: up to 15 significant
// digits, no trailing zeros, a whole number without a decimal point. Independent of
// the process locale (the GUI toolkit switches it to the user's).
std::string FloatToText(double value);

// Reads a decimal text back: optional surrounding blanks, optional sign, digits with
// an optional decimal point and exponent. Anything else (empty, letters, "inf",
// "nan", hexadecimal) does not convert and yields nothing.
std::optional<double> TextToFloat(const std::string& text);

}  // namespace rq::engine
