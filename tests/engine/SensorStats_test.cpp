#include "engine/SensorStats.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rq::engine {
namespace {

using Clock = SensorStats::Clock;
Clock::time_point At(int second) { return Clock::time_point(std::chrono::seconds(1'800'000'000 + second)); }

TEST(SensorStatsTest, KeepsEachSensorsLowestAndHighestWithTheFirstTimeSeen) {
  SensorStats stats;
  stats.Add({{1, 49.0}, {3, 3668.0}}, At(0));
  stats.Add({{1, 52.0}, {3, 3600.0}}, At(1));
  stats.Add({{1, 47.0}, {3, 3668.0}}, At(2));
  stats.Add(1, 52.0, At(3));  // a tie keeps the earlier time
  stats.Add(2, NAN, At(4));   // no reading: no range
  stats.Add(3, 3720.0, At(5));
  struct Expected {
    std::size_t sensor;
    double lowest;
    int lowestAt;
    double highest;
    int highestAt;
  } const cases[] = {{1, 47.0, 2, 52.0, 1}, {3, 3600.0, 1, 3720.0, 5}};
  for (const Expected& c : cases) {
    const auto range = stats.RangeOf(c.sensor);
    ASSERT_TRUE(range) << c.sensor;
    EXPECT_EQ(range->lowest.value, c.lowest);
    EXPECT_EQ(range->lowest.seen, At(c.lowestAt));
    EXPECT_EQ(range->highest.value, c.highest);
    EXPECT_EQ(range->highest.seen, At(c.highestAt));
  }
  EXPECT_FALSE(stats.RangeOf(2));
  stats.Clear();
  EXPECT_FALSE(stats.RangeOf(1));
}

}  // namespace
}  // namespace rq::engine
