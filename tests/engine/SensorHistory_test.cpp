#include "engine/SensorHistory.h"

#include <gtest/gtest.h>

namespace rq::engine {
namespace {

using std::chrono::seconds;

TEST(SensorHistory, TwentyFourHoursOfRefreshesKeepTheLastTenMinutesAndTheFirstSeenExtremes) {
  SensorHistory history;
  const SensorClock::time_point start{};
  constexpr int kDay = 24 * 60 * 60 + 30;  // a day, ending part way round the ring
  for (int second = 0; second < kDay; ++second) {
    // Temperature 2 wanders 30..69 and peaks once at 90 in hour 5; fan 1 answers every other pass.
    const double temperature = second == 5 * 3600 ? 90 : 30 + second % 40;
    SensorReadings readings{{1, temperature}};
    if (second % 2 == 0) readings.push_back({3, 1000.0 + second % 7});
    history.Record(readings, start + seconds(second));
    if (second % 3600 == 3599) {
      ASSERT_EQ(history.Samples(1).size(), 600u) << second;
    }
  }
  const auto samples = history.Samples(1);
  ASSERT_EQ(samples.size(), 600u);
  EXPECT_EQ(samples.front().at, start + seconds(kDay - 600));
  EXPECT_EQ(samples.back().at, start + seconds(kDay - 1));
  EXPECT_EQ(samples.back().value, 30 + (kDay - 1) % 40);
  EXPECT_EQ(history.Samples(3).size(), 600u);
  EXPECT_EQ(history.Samples(3).front().at, start + seconds(kDay - 1200));  // every other second
  EXPECT_TRUE(history.Samples(0).empty());
  EXPECT_FALSE(history.Lowest(0));
  EXPECT_EQ(history.Highest(1)->value, 90);
  EXPECT_EQ(history.Highest(1)->at, start + seconds(5 * 3600));
  EXPECT_EQ(history.Lowest(1)->value, 30);
  EXPECT_EQ(history.Lowest(1)->at, start);  // reached every 40 s since: the first time is kept
  EXPECT_EQ(history.Lowest(3)->value, 1000);
  EXPECT_EQ(history.Highest(3)->at, start + seconds(6));  // 1006 first at second 6
}

}  // namespace
}  // namespace rq::engine
