#pragma once
#include <optional>
#include <string>

namespace rq::engine {

// Decimal text of a clock as the settings file stores it: up to 15 significant
// digits, no trailing zeros, a whole number without a decimal point. Independent of
// the process locale (the GUI toolkit switches it to the user's).
std::string FloatToText(double value);

// Reads a decimal text back: optional surrounding blanks, optional sign, digits with
// an optional decimal point and exponent. Anything else (empty, letters, "inf",
// "nan", hexadecimal) does not convert and yields nothing.
std::optional<double> TextToFloat(const std::string& text);

}  // namespace rq::engine
