#include "engine/SensorAlarms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace rq::engine {
namespace {

constexpr std::size_t kCpu = 1, kFan1 = 3;  // TempSensor2, Fan1

struct Section {
  std::map<std::string, std::string> keys;
  std::vector<std::string> log;
  void LoadInto(SensorAlarms& alarms) {
    alarms.LoadLimits([this](const std::string& key) { return keys.count(key) ? keys[key] : ""; },
                      [this](const std::string& line) { log.push_back(line); });
  }
};

// Readings of the CPU temperature and fan 1; NAN: the sensor did not answer.
AlarmChanges Refresh(SensorAlarms& alarms, double cpu, double fan) {
  SensorReadings readings{{0, 30}};
  if (!std::isnan(cpu)) readings.push_back({kCpu, cpu});
  if (!std::isnan(fan)) readings.push_back({kFan1, fan});
  return alarms.Update(readings);
}

TEST(SensorAlarms, EachCrossingIsReportedOnceAndHoveringAtTheLimitDoesNotFlap) {
  EXPECT_EQ(AlarmLimitKey(6), "");  // VCoreA: no alarm
  Section section{{{"TempSensor2High", "60"}, {"Fan1Low", "1000"}}, {}};
  SensorAlarms alarms;
  section.LoadInto(alarms);
  struct Step {
    double cpu, fan;
    std::vector<std::pair<std::size_t, bool>> changes;  // sensor, entered
  } steps[] = {
      {55, 2000, {}},
      {60, 2000, {}},  // at the limit is not past it
      {61, 2000, {{kCpu, true}}},
      {62, 2000, {}},
      {58.5, 2000, {}},  // back by less than 2 C
      {61, 2000, {}},
      {NAN, 2000, {}},  // a failed read changes nothing
      {58, 999, {{kCpu, false}, {kFan1, true}}},
      {59, 0, {}},
      {61, 1099, {{kCpu, true}}},  // fan back by less than 100 RPM
      {61, 1100, {{kFan1, false}}},
  };
  for (const Step& step : steps) {
    std::vector<std::pair<std::size_t, bool>> got;
    for (const AlarmChange& c : Refresh(alarms, step.cpu, step.fan)) got.emplace_back(c.sensor, c.entered);
    EXPECT_EQ(got, step.changes) << "step " << &step - steps;
  }
  EXPECT_TRUE(alarms.InAlarm(kCpu) && !alarms.InAlarm(kFan1) && section.log.empty());

  // A limit taken away while in alarm ends the alarm at the next reading.
  section.keys.erase("TempSensor2High");
  section.LoadInto(alarms);
  EXPECT_FALSE(Refresh(alarms, 70, 2000).at(0).entered);
  EXPECT_TRUE(Refresh(alarms, 90, 2000).empty());
}

TEST(SensorAlarms, AbsentAndMalformedLimitsSetNoAlarmAndAreLoggedOncePerText) {
  Section section{
      {{"TempSensor1High", " "}, {"TempSensor2High", "hot"}, {"Fan1Low", "-5"}, {"Fan2Low", " 800 "}}, {}};
  SensorAlarms alarms;
  section.LoadInto(alarms);
  section.LoadInto(alarms);
  EXPECT_FALSE(alarms.Limit(0) || alarms.Limit(kCpu) || alarms.Limit(2) || alarms.Limit(kFan1));
  EXPECT_EQ(alarms.Limit(4), 800.0);
  EXPECT_FALSE(alarms.WatchesTemperatures());
  EXPECT_EQ(section.log.size(), 2U);
  EXPECT_EQ(section.log.at(0),
            "TempSensor2High=hot in the settings file is not a number: ignored, no alarm for this sensor");
  EXPECT_TRUE(Refresh(alarms, 150, 0).empty());

  section.keys["TempSensor2High"] = "hotter";
  section.LoadInto(alarms);
  EXPECT_EQ(section.log.size(), 3U);
}

}  // namespace
}  // namespace rq::engine
