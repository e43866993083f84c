// The overclock controllers on the shipped boards: the VID they report, the core
// override driving the supply and the CPU's stable limit, and the memory pins.
#include <gtest/gtest.h>

#include "sim/Board.h"

namespace rq::sim {
namespace {

class OverclockChipTest : public ::testing::Test {
 protected:
  void Load(const std::string& profile) {
    board = Board::Shipped(profile, time);
    chip = board->Smbus().Find(0x4E);
    ASSERT_NE(chip, nullptr);
  }
  std::uint8_t Read(std::uint8_t reg) {
    std::uint8_t value = 0;
    EXPECT_TRUE(chip->ReadByteData(reg, value));
    return value;
  }
  void Write(std::uint8_t reg, std::uint8_t value) { EXPECT_TRUE(chip->WriteByteData(reg, value)); }
  double Core() { return board->Analogue().SetPoint(Supply::VCore); }
  double Memory() { return board->Analogue().SetPoint(Supply::VMem); }

  ManualTimeSource time;
  std::unique_ptr<Board> board;
  SmbusDevice* chip = nullptr;
};

TEST_F(OverclockChipTest, OverrideDrivesTheCoreSupplyAndTheStableLimit) {
  Load("default");  // VID 1.525 V, 4 MHz per 0.1 V, stable to 148
  EXPECT_EQ(Read(1), 0x0D);
  EXPECT_EQ(Read(0), 0x00);
  Write(0, 0x27);  // 1.675 V: 0.15 V above the VID
  EXPECT_DOUBLE_EQ(Core(), 1.675);
  EXPECT_DOUBLE_EQ(board->Processor().MaxStableFsb(), 154.0);
  Write(0, 0x07);  // the code without its enable bit
  EXPECT_DOUBLE_EQ(Core(), 1.525);
  EXPECT_DOUBLE_EQ(board->Processor().MaxStableFsb(), 148.0);
  Write(0, 0x27);
  board->PowerOnReset();
  EXPECT_EQ(Read(0), 0x00);
  EXPECT_DOUBLE_EQ(Core(), 1.525);
}

TEST_F(OverclockChipTest, BoardVariantTakesTheOverrideAtRegisterTen) {
  Load("nforce2");  // VID 1.65 V, 6 MHz per 0.1 V, stable to 178
  EXPECT_EQ(Read(1), 0x08);
  Write(0, 0x26);
  EXPECT_DOUBLE_EQ(Core(), 1.65);
  Write(10, 0x26);  // 1.7 V
  EXPECT_DOUBLE_EQ(Core(), 1.7);
  EXPECT_DOUBLE_EQ(board->Processor().MaxStableFsb(), 181.0);
}

TEST_F(OverclockChipTest, MemoryFollowsItsPinsOnlyWhileTheyAreOutputs) {
  struct Case {
    const char* profile;
    double ownVolts;
    std::uint8_t data;  // selects 2.7 V on this model's two pins
  };
  for (const Case& c : {Case{"default", 2.60, 0xFB}, Case{"nforce2", 2.65, 0xFD}}) {
    SCOPED_TRACE(c.profile);
    Load(c.profile);
    EXPECT_EQ(Read(6), 0xFF);
    Write(6, c.data);  // latched, but the pins are still inputs
    EXPECT_EQ(Read(6), 0xFF);
    EXPECT_DOUBLE_EQ(Memory(), c.ownVolts);
    Write(5, 0x00);
    EXPECT_EQ(Read(6), c.data);
    EXPECT_DOUBLE_EQ(Memory(), 2.7);
    Write(5, 0xFF);
    EXPECT_DOUBLE_EQ(Memory(), c.ownVolts);
    Write(5, 0x00);
    board->PowerOnReset();
    EXPECT_EQ(Read(5), 0xFF);
    EXPECT_EQ(Read(6), 0xFF);
    EXPECT_DOUBLE_EQ(Memory(), c.ownVolts);
  }
}

}  // namespace
}  // namespace rq::sim
