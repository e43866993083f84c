#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "MonitorBench.h"
#include "devices/monitor/MonitorChips.h"

namespace rq::devices {
namespace {

using testing::In;
using testing::MonitorBench;
using testing::Out;

std::string Chip(const std::string& type) { return "[[chip]]\ntype = \"" + type + "\"\nbase = 0x290\n"; }

TEST(Identification, WinbondReadsBothVendorBytesAndTheChipId) {
  MonitorBench bench("TESTBD", "", Chip("w83627hf"));
  EXPECT_TRUE(W83627HFIo().Probe());
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(Out(0x295, 0x4E), Out(0x296, 0x80),  // high vendor byte
                                                  Out(0x295, 0x58), In(0x296, 0x21),   // chip ID
                                                  Out(0x295, 0x4F), In(0x296, 0x5C),   // vendor high
                                                  Out(0x295, 0x4E), Out(0x296, 0x00),  // low byte, bank 0
                                                  Out(0x295, 0x4F), In(0x296, 0xA3)));
  EXPECT_FALSE(W83697HFIo().Probe());
}

TEST(Identification, IteEntersAndAlwaysLeavesConfigurationMode) {
  MonitorBench bench("TESTBD", "", Chip("it8712f"));
  EXPECT_TRUE(IT8712FIo().Probe());
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(
                               Out(0x2E, 0x87), Out(0x2E, 0x01), Out(0x2E, 0x55), Out(0x2E, 0x55),  // key
                               Out(0x2E, 0x20), In(0x2F, 0x87), Out(0x2E, 0x21), In(0x2F, 0x12),    // ID
                               Out(0x2E, 0x02), In(0x2F, 0x00), Out(0x2F, 0x02)));                  // leave
  bench.Log().clear();
  EXPECT_FALSE(IT8705FIo().Probe());
  EXPECT_THAT(bench.Log(),
              ::testing::ElementsAre(Out(0x2E, 0x87), Out(0x2E, 0x01), Out(0x2E, 0x55), Out(0x2E, 0x55),
                                     Out(0x2E, 0x20), In(0x2F, 0x87), Out(0x2E, 0x21), In(0x2F, 0x12),
                                     Out(0x2E, 0x02), In(0x2F, 0x00), Out(0x2F, 0x02)));
}

TEST(Identification, IteOnAWinbondBoardStopsAtTheFirstIdByteAndStillLeaves) {
  MonitorBench bench("TESTBD", "", Chip("w83697hf"));
  EXPECT_FALSE(IT8722FIo().Probe());
  EXPECT_THAT(bench.Log(), ::testing::ElementsAre(Out(0x2E, 0x87), Out(0x2E, 0x01), Out(0x2E, 0x55),
                                                  Out(0x2E, 0x55), Out(0x2E, 0x20), In(0x2F, 0xFF),
                                                  Out(0x2E, 0x02), In(0x2F, 0xFF), Out(0x2F, 0xFF)));
}

TEST(Identification, ABoardWithoutAMonitorHasNone) {
  MonitorBench bench;  // registers read 0, the configuration ports 0xFF
  EXPECT_EQ(DetectFirst(HardwareMonitorCandidates(), [](ISAHwMonitorIo& m) { return m.Probe(); }), nullptr);
}

struct ShippedCase {
  const char* board;
  const char* model;
};

TEST(Identification, EveryShippedBoardFindsItsMonitorAndReadsBelievableValues) {
  for (const auto& c : {ShippedCase{"default", "W83627HF"}, ShippedCase{"via-kt400", "IT8705F"},
                        ShippedCase{"sis-648", "W83697HF"}, ShippedCase{"nforce2", "IT8712F"},
                        ShippedCase{"kolgra", "W83627HF"}, ShippedCase{"qav", "IT8722F"},
                        ShippedCase{"ich2-845", "W83627HF"}, ShippedCase{"via-km400", "W83697HF"}}) {
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(c.board, time);
    driver::InProcessDriverHandle driver(*board);
    hw::ScopedDriverHandle handle(&driver);
    testing::BoardSection section("TESTBD", testing::AllSensors(1));
    const auto chip = DetectFirst(HardwareMonitorCandidates(), [](ISAHwMonitorIo& m) { return m.Probe(); });
    ASSERT_NE(chip, nullptr) << c.board;
    EXPECT_EQ(chip->GetModel(), c.model) << c.board;
    const sim::Analog& side = board->Analogue();
    double vcore = 0;
    double v12 = 0;
    double cpu = 0;
    std::int32_t fan = 0;
    ASSERT_TRUE(chip->ReadVCoreA(vcore));
    ASSERT_TRUE(chip->ReadV12(v12));
    ASSERT_TRUE(chip->ReadTempSensor2(cpu));
    ASSERT_TRUE(chip->ReadFan1(fan));
    EXPECT_NEAR(vcore, side.Volts(sim::Supply::VCore), side.Volts(sim::Supply::VCore) * 0.02) << c.board;
    EXPECT_NEAR(v12, 12.0, 12.0 * 0.03) << c.board;
    EXPECT_NEAR(cpu, side.CpuTempC(), 1.0) << c.board;
    EXPECT_NEAR(fan, side.FanRpm(sim::Fan::Cpu), side.FanRpm(sim::Fan::Cpu) * 0.03) << c.board;
  }
}

}  // namespace
}  // namespace rq::devices
