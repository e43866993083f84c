#include "engine/Formatting.h"

#include <gtest/gtest.h>

namespace rq::engine {
namespace {

TEST(Formatting, TextOfAClockHasNoTrailingZeros) {
  EXPECT_EQ(FloatToText(150.0), "150");
  EXPECT_EQ(FloatToText(133.3), "133.3");
  EXPECT_EQ(FloatToText(133.33333333333334), "133.333333333333");
  EXPECT_EQ(FloatToText(0.5), "0.5");
  EXPECT_EQ(FloatToText(-3.0), "-3");
}

TEST(Formatting, TextToFloatAcceptsDecimalsOnly) {
  EXPECT_EQ(TextToFloat("150"), 150.0);
  EXPECT_EQ(TextToFloat(" 133.3 "), 133.3);
  EXPECT_EQ(TextToFloat("+1.5e2"), 150.0);
  EXPECT_EQ(TextToFloat("-2"), -2.0);
  EXPECT_EQ(TextToFloat(".5"), 0.5);
  for (const char* bad : {"", " ", "abc", "150MHz", "1,5", "inf", "nan", "0x10", "1e", "-", ".", "1.5.2"}) {
    EXPECT_FALSE(TextToFloat(bad).has_value()) << '"' << bad << '"';
  }
  EXPECT_FALSE(TextToFloat("1e999").has_value());
}

}  // namespace
}  // namespace rq::engine
