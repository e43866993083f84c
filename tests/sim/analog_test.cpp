#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "sim/Board.h"
#include "sim_support.h"

namespace rq::sim {
namespace {

using namespace std::chrono_literals;

// 100 MHz x 18 at power-on; 50 W there at 1.50 V, 0.5 K/W to the CPU, 0.2 K/W to
// the board, from 20 degrees: idle at 45 (CPU) and 30 (board).
constexpr char kAnalog[] =
    "[[chip]]\ntype = \"analog\"\ncpu_vid = 1.50\nv12 = 12.1\nambient_c = 20\ncpu_watts = 50\n"
    "cpu_c_per_watt = 0.5\ncpu_tau_s = 30\nboard_c_per_watt = 0.2\nboard_tau_s = 180\n"
    "stable_fsb_mhz_per_100mv = 5\ncpu_fan_rpm = 3000\nsystem_fan_rpm = 0\n";

class AnalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board_ = Board::FromProfileText(testing::BoardHeader(110.0, 100.0) + kAnalog, time_);
  }
  Analog& Side() { return board_->Analogue(); }

  ManualTimeSource time_;
  std::unique_ptr<Board> board_;
};

TEST_F(AnalogTest, SuppliesStayNearTheirNominalValuesWithALittleRipple) {
  double low = 100.0;
  double high = -100.0;
  for (int i = 0; i < 200; ++i) {
    const double v12 = Side().Volts(Supply::V12);
    low = std::min(low, v12);
    high = std::max(high, v12);
    EXPECT_NEAR(Side().Volts(Supply::VCore), 1.50, 1.50 * 0.0025);
    EXPECT_NEAR(Side().Volts(Supply::VN12), -12.0, 12.0 * 0.0025);
    time_.Advance(100ms);
  }
  EXPECT_GE(low, 12.1 - 12.1 * 0.0025);
  EXPECT_LE(high, 12.1 + 12.1 * 0.0025);
  EXPECT_GT(high - low, 0.01) << "a supply without any ripple looks fake";
}

TEST_F(AnalogTest, CoreVoltageFollowsTheOverrideUntilAReset) {
  Side().OverrideCore(1.65);
  EXPECT_DOUBLE_EQ(Side().SetPoint(Supply::VCore), 1.65);
  board_->PowerOnReset();
  EXPECT_DOUBLE_EQ(Side().SetPoint(Supply::VCore), 1.50);
}

TEST_F(AnalogTest, TemperaturesLagBehindTheCpuPower) {
  EXPECT_DOUBLE_EQ(Side().CpuTempC(), 45.0);
  EXPECT_DOUBLE_EQ(Side().BoardTempC(), 30.0);
  board_->Processor().SetFsb(108.0);  // 54 W: CPU heads for 47, board for 30.8
  time_.Advance(30s);
  EXPECT_NEAR(Side().CpuTempC(), 46.2642, 1e-3);    // 47 - 2 e^-1
  EXPECT_NEAR(Side().BoardTempC(), 30.1231, 1e-3);  // 30.8 - 0.8 e^-(1/6)
  // Back to 100 MHz at 1.65 V: 50 x 1.21 = 60.5 W, the square of the voltage.
  board_->Processor().SetFsb(100.0);
  Side().OverrideCore(1.65);
  time_.Advance(600s);
  EXPECT_NEAR(Side().CpuWatts(), 60.5, 1e-9);
  EXPECT_NEAR(Side().CpuTempC(), 50.25, 1e-3);
}

TEST_F(AnalogTest, FansSpeedUpAsTheCpuWarms) {
  EXPECT_DOUBLE_EQ(Side().FanRpm(Fan::Cpu), 3000.0 * 1.10);  // 45 degrees: 5 above quiet
  EXPECT_DOUBLE_EQ(Side().FanRpm(Fan::System), 0.0);
  Side().OverrideCore(1.80);  // 72 W: 56 degrees
  time_.Advance(3600s);
  EXPECT_NEAR(Side().FanRpm(Fan::Cpu), 3000.0 * 1.32, 0.01);
}

TEST_F(AnalogTest, RaisedCoreVoltageBuysStableFsbAndLoweringItAgainHangs) {
  board_->Processor().SetFsb(112.0);
  EXPECT_TRUE(board_->Hung());
  board_->PowerOnReset();
  Side().OverrideCore(1.55);  // +0.05 V: 2.5 MHz more
  EXPECT_DOUBLE_EQ(board_->Processor().MaxStableFsb(), 112.5);
  board_->Processor().SetFsb(112.0);
  EXPECT_FALSE(board_->Hung());
  Side().OverrideCore(1.50);
  EXPECT_TRUE(board_->Hung());
}

TEST(AnalogProfile, OneAnalogueSidePerBoard) {
  ManualTimeSource time;
  const std::string twice =
      testing::BoardHeader() + "[[chip]]\ntype = \"analog\"\n[[chip]]\ntype = \"analog\"\n";
  EXPECT_THROW(Board::FromProfileText(twice, time), ProfileError);
}

}  // namespace
}  // namespace rq::sim
