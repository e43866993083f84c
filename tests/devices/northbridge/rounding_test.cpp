#include "devices/Rounding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace rq::devices {
namespace {

TEST(RoundTo, TiesGoAwayFromZeroOnTheDecimalText) {
  EXPECT_DOUBLE_EQ(RoundTo(0.25, 1), 0.3);
  EXPECT_DOUBLE_EQ(RoundTo(-0.25, 1), -0.3);
  EXPECT_DOUBLE_EQ(RoundTo(0.35, 1), 0.4);
  // 2.675 is stored just below the tie; its text is the tie.
  EXPECT_DOUBLE_EQ(RoundTo(2.675, 2), 2.68);
  EXPECT_DOUBLE_EQ(RoundTo(1.45, 1), 1.5);
  EXPECT_DOUBLE_EQ(RoundTo(1.44999, 1), 1.4);
}

TEST(RoundTo, CarriesAndSmallValues) {
  EXPECT_DOUBLE_EQ(RoundTo(9.96, 1), 10.0);
  EXPECT_DOUBLE_EQ(RoundTo(99.95, 1), 100.0);
  EXPECT_DOUBLE_EQ(RoundTo(0.05, 1), 0.1);
  EXPECT_DOUBLE_EQ(RoundTo(0.04, 1), 0.0);
  EXPECT_DOUBLE_EQ(RoundTo(0.00001, 1), 0.0);
  EXPECT_DOUBLE_EQ(RoundTo(123456.789, 1), 123456.8);
  EXPECT_DOUBLE_EQ(RoundTo(133.33, 1), 133.3);
  EXPECT_DOUBLE_EQ(RoundTo(1.005, 2), 1.01);
  EXPECT_DOUBLE_EQ(RoundTo(110.0, 1), 110.0);
  EXPECT_DOUBLE_EQ(RoundTo(-0.04, 1), 0.0);
  EXPECT_FALSE(std::signbit(RoundTo(-0.04, 1)));
  EXPECT_FALSE(std::signbit(RoundTo(-0.00001, 1)));
}

TEST(RoundTo, ReadsBackTheSameValueAsParsingTheText) {
  // The result is exactly the double a text of one decimal parses to.
  EXPECT_EQ(RoundTo(177.289, 1), 177.3);
  EXPECT_EQ(RoundToDouble(133.3L * 133 / 100, 1), 177.3);
  EXPECT_EQ(RoundTo(133.3L * 133 / 100, 1), 177.3L);
}

TEST(RoundTo, ExtendedPrecisionNoiseDoesNotDecideATie) {
  // 0.35 × 3 is 1.05 only up to the last binary digits.
  const long double tie = 0.35L * 3;
  EXPECT_EQ(RoundToDouble(tie, 1), 1.1);
  EXPECT_EQ(RoundToDouble(-tie, 1), -1.1);
}

TEST(RoundTo, NonFiniteValuesPassThrough) {
  EXPECT_TRUE(std::isnan(RoundTo(std::numeric_limits<double>::quiet_NaN(), 1)));
  EXPECT_EQ(RoundTo(std::numeric_limits<double>::infinity(), 1), std::numeric_limits<double>::infinity());
  EXPECT_EQ(RoundTo(1e300, 1), 1e300);
}

TEST(RoundTo, IgnoresTheUserLocale) {
  // The windows run under the user's locale, where the decimal mark may be a comma.
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  const double rounded = RoundTo(133.33, 1);
  const double wide = RoundToDouble(177.289L, 1);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(rounded, 133.3);
  EXPECT_EQ(wide, 177.3);
}

}  // namespace
}  // namespace rq::devices
