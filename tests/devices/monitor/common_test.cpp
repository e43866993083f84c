#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MonitorBench.h"
#include "devices/monitor/MonitorChips.h"

namespace rq::devices {
namespace {

using testing::MonitorBench;

struct Sensor {
  const char* key;
  std::function<bool(ISAHwMonitorIo&)> read;
};

std::vector<Sensor> AllReads() {
  auto temp = [](bool (ISAHwMonitorIo::*op)(double&)) {
    return [op](ISAHwMonitorIo& chip) {
      double value = -1;
      return (chip.*op)(value);
    };
  };
  auto fan = [](bool (ISAHwMonitorIo::*op)(std::int32_t&)) {
    return [op](ISAHwMonitorIo& chip) {
      std::int32_t rpm = -1;
      return (chip.*op)(rpm);
    };
  };
  return {{"TempSensor1", temp(&ISAHwMonitorIo::ReadTempSensor1)},
          {"Fan1", fan(&ISAHwMonitorIo::ReadFan1)},
          {"TempSensor2", temp(&ISAHwMonitorIo::ReadTempSensor2)},
          {"Fan2", fan(&ISAHwMonitorIo::ReadFan2)},
          {"TempSensor3", temp(&ISAHwMonitorIo::ReadTempSensor3)},
          {"Fan3", fan(&ISAHwMonitorIo::ReadFan3)},
          {"VCoreA", temp(&ISAHwMonitorIo::ReadVCoreA)},
          {"VCoreB", temp(&ISAHwMonitorIo::ReadVCoreB)},
          {"V33", temp(&ISAHwMonitorIo::ReadV33)},
          {"V5", temp(&ISAHwMonitorIo::ReadV5)},
          {"V12", temp(&ISAHwMonitorIo::ReadV12)},
          {"VN12", temp(&ISAHwMonitorIo::ReadVN12)},
          {"VN5", temp(&ISAHwMonitorIo::ReadVN5)},
          {"VBAT", temp(&ISAHwMonitorIo::ReadVBAT)},
          {"5VSB", temp(&ISAHwMonitorIo::Read5VSB)}};
}

bool IsTemperatureOrFan(const std::string& key) { return key.starts_with("Temp") || key.starts_with("Fan"); }

class EveryChip : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<ISAHwMonitorIo> Make() { return HardwareMonitorCandidates()[GetParam()](); }
};

TEST_P(EveryChip, ASwitchedOffSensorReturnsFalseWithoutTouchingAPort) {
  MonitorBench bench("TESTBD", testing::AllSensors(0));
  const auto chip = Make();
  for (const auto& sensor : AllReads()) {
    EXPECT_FALSE(sensor.read(*chip)) << sensor.key;
    EXPECT_THAT(bench.Log(), ::testing::IsEmpty()) << sensor.key;
  }
}

TEST_P(EveryChip, MissingKeysLeaveVoltagesOnAndTemperaturesAndFansOff) {
  MonitorBench bench("TESTBD");
  const auto chip = Make();
  for (const auto& sensor : AllReads()) {
    bench.Log().clear();
    const bool read = sensor.read(*chip);
    if (IsTemperatureOrFan(sensor.key)) {
      EXPECT_FALSE(read) << sensor.key;
      EXPECT_THAT(bench.Log(), ::testing::IsEmpty()) << sensor.key;
    } else if (read) {
      EXPECT_THAT(bench.Log(), ::testing::Not(::testing::IsEmpty())) << sensor.key;
    }
  }
}

TEST_P(EveryChip, ACountOf255IsAStoppedFanAndZeroCannotBeDividedBy) {
  MonitorBench bench("TESTBD", testing::AllSensors(1));
  const auto chip = Make();
  for (std::uint8_t count : {255, 0}) {
    for (std::uint8_t reg : {0x28, 0x0D}) bench.fake.Set(reg, count);
    bench.Log().clear();
    std::int32_t rpm = -1;
    ASSERT_TRUE(chip->ReadFan1(rpm)) << int{count};
    EXPECT_EQ(rpm, 0) << int{count};
    // Only the count is read: out index, in data.
    EXPECT_EQ(bench.Log().size(), 2U) << int{count};
  }
}

TEST_P(EveryChip, V5AndVCoreDecodeTheSameOnEveryChip) {
  MonitorBench bench("TESTBD", testing::AllSensors(1));
  const auto chip = Make();
  bench.fake.Set(0x23, 180);
  bench.fake.Set(0x20, 100);
  double v5 = 0;
  double vcore = 0;
  ASSERT_TRUE(chip->ReadV5(v5));
  ASSERT_TRUE(chip->ReadVCoreA(vcore));
  EXPECT_DOUBLE_EQ(v5, 4.84);  // 180 x 0.016 = 2.88, x 168 / 100 = 4.8384
  EXPECT_DOUBLE_EQ(vcore, 1.6);
}

INSTANTIATE_TEST_SUITE_P(Monitors, EveryChip, ::testing::Range(0, 5),
                         [](const ::testing::TestParamInfo<int>& param) {
                           return HardwareMonitorCandidates()[param.param]()->GetModel();
                         });

}  // namespace
}  // namespace rq::devices
