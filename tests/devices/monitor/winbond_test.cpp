#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MonitorBench.h"
#include "devices/monitor/MonitorChips.h"

namespace rq::devices {
namespace {

using testing::In;
using testing::MonitorBench;
using testing::Out;

class Winbond : public ::testing::Test {
 protected:
  MonitorBench bench{"TESTBD", testing::AllSensors(1)};
  W83627HFIo chip;
};

TEST_F(Winbond, FanDivisorCodeTakesBit2FromRegister5D) {
  bench.fake.Set(0x4E, 0x81);  // bank 1 left selected by an earlier read
  bench.fake.Set(0x28, 100);
  bench.fake.Set(0x47, 0x20);
  bench.fake.Set(0x5D, 0x20);
  std::int32_t rpm = 0;
  ASSERT_TRUE(chip.ReadFan1(rpm));
  EXPECT_EQ(rpm, 210);  // code 2 + 4: 1,350,000 / 100 / 64
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(Out(0x295, 0x28), In(0x296, 100),   // count first
                                                  Out(0x295, 0x4E), In(0x296, 0x81),  // bank 0
                                                  Out(0x295, 0x4E), Out(0x296, 0x80), Out(0x295, 0x47),
                                                  In(0x296, 0x20), Out(0x295, 0x5D), In(0x296, 0x20)));
  bench.fake.Set(0x29, 94);
  bench.fake.Set(0x47, 0xC0);  // fan 2 code 3, 0x5D bit 6 clear
  ASSERT_TRUE(chip.ReadFan2(rpm));
  EXPECT_EQ(rpm, 1795);  // 1,350,000 / 94 / 8
}

TEST_F(Winbond, Temperature2LosesTheHalfDegree) {
  struct Case {
    std::uint8_t high;
    std::uint8_t low;
    double expected;
  };
  for (const Case& c : {Case{45, 0x80, 45.0}, Case{45, 0x00, 45.0}, Case{0x7F, 0x80, 127.0},
                        // bit 8 set: -19.5 degrees, the half dropped toward zero
                        Case{0xEC, 0x80, -19.0}, Case{0xFF, 0x80, 0.0}, Case{0x80, 0x00, -128.0}}) {
    bench.fake.Set(0x50, c.high, 1);
    bench.fake.Set(0x51, c.low, 1);
    double value = 99;
    ASSERT_TRUE(chip.ReadTempSensor2(value));
    EXPECT_DOUBLE_EQ(value, c.expected) << int{c.high} << "/" << int{c.low};
  }
  EXPECT_EQ(bench.fake.Get(0x4E) & 0x07, 1) << "bank 1 stays selected";
}

TEST_F(Winbond, Temperature1IsTwosComplement) {
  for (const auto& [raw, expected] : {std::pair{0x1E, 30.0}, {0x7F, 127.0}, {0xEC, -20.0}, {0x80, -128.0}}) {
    bench.fake.Set(0x27, static_cast<std::uint8_t>(raw));
    double value = 99;
    ASSERT_TRUE(chip.ReadTempSensor1(value));
    EXPECT_DOUBLE_EQ(value, expected) << raw;
  }
}

TEST_F(Winbond, RailsThroughTheirDividers) {
  struct Case {
    bool (ISAHwMonitorIo::*read)(double&);
    int bank;
    std::uint8_t reg;
    std::uint8_t raw;
    double expected;
  };
  const Case cases[] = {
      {&ISAHwMonitorIo::ReadV12, 0, 0x24, 200, 12.16},  // 3.2 x 38 / 10
      {&ISAHwMonitorIo::ReadVCoreB, 0, 0x21, 100, 1.6},
      {&ISAHwMonitorIo::ReadV33, 0, 0x22, 103, 1.65},
      {&ISAHwMonitorIo::ReadVN12, 0, 0x25, 35, -12.03},  // (0.56 - 3.6 k) / (1 - k), k = 232 / 288
      {&ISAHwMonitorIo::ReadVN5, 0, 0x26, 54, -5.0},     // k = 120 / 176
      {&ISAHwMonitorIo::ReadVBAT, 5, 0x51, 188, 3.01},
      {&ISAHwMonitorIo::Read5VSB, 5, 0x50, 206, 4.99},  // 3.296 x 50 / 33
  };
  for (const Case& c : cases) {
    bench.fake.Set(c.reg, c.raw, c.bank);
    double value = 0;
    ASSERT_TRUE((chip.*c.read)(value)) << int{c.reg};
    EXPECT_DOUBLE_EQ(value, c.expected) << int{c.reg};
  }
  bench.Log().clear();
  double value = 0;
  ASSERT_TRUE(chip.ReadVBAT(value));
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(Out(0x295, 0x4E), In(0x296, 0x05), Out(0x295, 0x4E),
                                                  Out(0x296, 0x05), Out(0x295, 0x51), In(0x296, 188)));
}

TEST(WinbondModels, SlotsTheChipsLackReturnFalseWithoutAPortAccess) {
  MonitorBench bench("TESTBD", testing::AllSensors(1));
  W83697HFIo w697;
  W83627HFIo w627;
  double value = 0;
  std::int32_t rpm = 0;
  EXPECT_FALSE(w697.ReadVCoreB(value));
  EXPECT_FALSE(w697.ReadTempSensor3(value));
  EXPECT_FALSE(w697.ReadFan3(rpm));
  EXPECT_FALSE(w627.ReadTempSensor3(value));
  EXPECT_FALSE(w627.ReadFan3(rpm));
  EXPECT_THAT(bench.Log(), ::testing::IsEmpty());
  EXPECT_TRUE(w627.ReadVCoreB(value));
}

}  // namespace
}  // namespace rq::devices
