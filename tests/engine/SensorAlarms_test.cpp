#include "engine/SensorAlarms.h"

#include <gtest/gtest.h>

#include <map>

namespace rq::engine {
namespace {

constexpr std::size_t kCpu = 1, kFan1 = 3;                  // TempSensor2, Fan1
using Changes = std::vector<std::pair<std::size_t, bool>>;  // sensor, entered

struct Board {
  std::map<std::string, std::string> keys;
  std::vector<std::string> log{};
  SensorAlarms alarms{};
  void Load() {
    alarms.LoadLimits([this](const std::string& key) { return keys[key]; },
                      [this](const std::string& line) { log.push_back(line); });
  }
  Changes Refresh(const SensorReadings& readings) {
    Changes got;
    for (const AlarmChange& c : alarms.Update(readings)) got.emplace_back(c.sensor, c.entered);
    return got;
  }
};

TEST(SensorAlarms, EachCrossingIsReportedOnceAndHoveringAtTheLimitDoesNotFlap) {
  Board board{{{"TempSensor2High", "60"}, {"Fan1Low", "1000"}, {"TempSensor1High", " "}}};
  board.Load();
  const struct {
    SensorReadings readings;
    Changes changes;
  } steps[] = {
      {{{0, 99}, {kCpu, 60}, {kFan1, 2000}}, {}},  // at the limit is not past it
      {{{kCpu, 61}, {kFan1, 2000}}, {{kCpu, true}}},
      {{{kCpu, 62}}, {}},
      {{{kCpu, 58.5}}, {}},  // back by less than 2 C
      {{{kCpu, 61}, {kFan1, 2000}}, {}},
      {{{kFan1, 2000}}, {}},  // a failed read changes nothing
      {{{kCpu, 58}, {kFan1, 999}}, {{kCpu, false}, {kFan1, true}}},
      {{{kCpu, 59}, {kFan1, 0}}, {}},
      {{{kCpu, 61}, {kFan1, 1099}}, {{kCpu, true}}},  // fan back by less than 100 RPM
      {{{kFan1, 1100}}, {{kFan1, false}}},
  };
  for (const auto& step : steps) EXPECT_EQ(board.Refresh(step.readings), step.changes) << &step - steps;
  EXPECT_TRUE(board.log.empty());
  // A limit taken away while in alarm ends the alarm at the next reading.
  board.keys.erase("TempSensor2High");
  board.Load();
  EXPECT_EQ(board.Refresh({{kCpu, 70}}), (Changes{{kCpu, false}}));
}

TEST(SensorAlarms, MalformedLimitsSetNoAlarmAndAreLoggedOncePerText) {
  Board board{{{"TempSensor2High", "hot"}, {"Fan1Low", "-5"}, {"Fan2Low", " 800 "}, {"VCoreAHigh", "1"}}};
  for (int load = 0; load < 2; ++load) board.Load();  // logged once, not on every load
  EXPECT_EQ(board.Refresh({{kCpu, 150}, {kFan1, 0}, {4, 799}, {6, 9}}), (Changes{{4, true}}));
  ASSERT_EQ(board.log.size(), 2U);
  EXPECT_EQ(
      board.log[1],
      "Fan1Low=-5 in the settings file is not a number of 0 or more: ignored, no alarm for this sensor");
}

}  // namespace
}  // namespace rq::engine
