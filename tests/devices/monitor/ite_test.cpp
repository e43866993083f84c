#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MonitorBench.h"
#include "devices/monitor/MonitorChips.h"

namespace rq::devices {
namespace {

using testing::In;
using testing::MonitorBench;
using testing::Out;

TEST(Ite, V33IsHalvedOnlyOnTheIT8712FOfTheListedBoards) {
  struct Case {
    const char* board;
    bool it8712f;
    double expected;
  };
  for (const Case& c : {Case{"RUM", true, 3.3}, Case{"RUMPRO", true, 3.3}, Case{"MOR", true, 3.3},
                        Case{"BUL", true, 3.3}, Case{"RUMV", true, 3.3}, Case{"rum", true, 1.65},
                        Case{"RUMP", true, 1.65}, Case{"RUM", false, 1.65}}) {
    MonitorBench bench(c.board);
    bench.fake.Set(0x22, 103);
    const std::unique_ptr<ISAHwMonitorIo> chip =
        c.it8712f ? std::unique_ptr<ISAHwMonitorIo>(new IT8712FIo) : std::make_unique<IT8705FIo>();
    double value = 0;
    ASSERT_TRUE(chip->ReadV33(value)) << c.board;
    EXPECT_DOUBLE_EQ(value, c.expected) << c.board << (c.it8712f ? " IT8712F" : " IT8705F");
  }
}

class IteChip : public ::testing::Test {
 protected:
  MonitorBench bench{"TESTBD", testing::AllSensors(1)};
  IT8722FIo chip;
};

TEST_F(IteChip, RailsThroughTheirDividers) {
  struct Case {
    bool (ISAHwMonitorIo::*read)(double&);
    std::uint8_t reg;
    std::uint8_t raw;
    double expected;
  };
  const Case cases[] = {
      {&ISAHwMonitorIo::ReadV12, 0x24, 200, 12.8},  // 3.2 x 40 / 10
      {&ISAHwMonitorIo::ReadVCoreB, 0x21, 100, 1.6},
      {&ISAHwMonitorIo::ReadVN12, 0x25, 60, -12.03},  // 0.96 x 288 / 56 - 232 x 4.096 / 56
      {&ISAHwMonitorIo::ReadVN5, 0x26, 76, -5.01},    // 1.216 x 177 / 56 - 121 x 4.096 / 56
      {&ISAHwMonitorIo::Read5VSB, 0x27, 186, 5.0},    // 2.976 x 168 / 100
  };
  for (const Case& c : cases) {
    bench.fake.Set(c.reg, c.raw);
    double value = 0;
    ASSERT_TRUE((chip.*c.read)(value)) << int{c.reg};
    EXPECT_DOUBLE_EQ(value, c.expected) << int{c.reg};
  }
}

TEST_F(IteChip, BatteryIsMeasuredOnRequest) {
  bench.fake.Set(0x00, 0x11);
  bench.fake.Set(0x28, 188);
  double value = 0;
  ASSERT_TRUE(chip.ReadVBAT(value));
  EXPECT_DOUBLE_EQ(value, 3.01);
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(Out(0x295, 0x00), In(0x296, 0x11), Out(0x295, 0x00),
                                                  Out(0x296, 0x51), Out(0x295, 0x28), In(0x296, 188)));
}

TEST_F(IteChip, FanDivisorsFromRegister0B) {
  bench.fake.Set(0x0B, 0x5A);  // fan 1 code 2, fan 2 code 3, fan 3 / 8
  bench.fake.Set(0x0D, 113);
  bench.fake.Set(0x0E, 94);
  bench.fake.Set(0x0F, 94);
  std::int32_t rpm = 0;
  ASSERT_TRUE(chip.ReadFan1(rpm));
  EXPECT_EQ(rpm, 2986);
  ASSERT_TRUE(chip.ReadFan2(rpm));
  EXPECT_EQ(rpm, 1795);
  ASSERT_TRUE(chip.ReadFan3(rpm));
  EXPECT_EQ(rpm, 1795);
  bench.fake.Set(0x0B, 0x1A);  // fan 3 / 2
  ASSERT_TRUE(chip.ReadFan3(rpm));
  EXPECT_EQ(rpm, 7180);
}

TEST_F(IteChip, TemperaturesAreTwosComplement) {
  bench.fake.Set(0x29, 0x1F);
  bench.fake.Set(0x2A, 0xEC);
  bench.fake.Set(0x2B, 0x80);
  double t1 = 0;
  double t2 = 0;
  double t3 = 0;
  ASSERT_TRUE(chip.ReadTempSensor1(t1));
  ASSERT_TRUE(chip.ReadTempSensor2(t2));
  ASSERT_TRUE(chip.ReadTempSensor3(t3));
  EXPECT_DOUBLE_EQ(t1, 31.0);
  EXPECT_DOUBLE_EQ(t2, -20.0);
  EXPECT_DOUBLE_EQ(t3, -128.0);
}

}  // namespace
}  // namespace rq::devices
