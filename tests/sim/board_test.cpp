#include "sim/Board.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "sim_support.h"

namespace rq::sim {
namespace {

using namespace std::chrono_literals;
using testing::BoardHeader;
using testing::TestClock;

void BuildTestClock(const ChipConfig& config, Board& board) {
  board.Own(std::make_unique<TestClock>(board, config.Number("power_on_fsb", 1.0, 1000.0)));
}
RQ_SIM_CHIP("test-clock", BuildTestClock);

class BoardTest : public ::testing::Test {
 protected:
  std::unique_ptr<Board> Load(const std::string& extra = "") {
    return Board::FromProfileText(BoardHeader() + extra, time);
  }
  ManualTimeSource time;
};

TEST_F(BoardTest, BiosRomHoldsTheModelStringAtItsAddress) {
  auto board = Load();
  std::array<std::uint8_t, 200> buffer{};
  ASSERT_TRUE(board->Bios().Read(BiosRom::kModelStringAddress, buffer));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), "TEST-BOARD 1.0");
  std::array<std::uint8_t, 16> top{};
  ASSERT_TRUE(board->Bios().Read(0xFFFF0, top));
  EXPECT_EQ(top[0], 0xEA);  // the reset vector jumps into the ROM
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&top[5]), 8), "08/15/03");
  std::array<std::uint8_t, 1> byte{};
  EXPECT_TRUE(board->Bios().Read(0xFFFFF, byte));
  EXPECT_FALSE(board->Bios().Read(0xEFFFF, byte));
  EXPECT_FALSE(board->Bios().Read(0x100000, byte));
  EXPECT_FALSE(board->Bios().Read(0xFFFFF, top));  // runs off the end
  EXPECT_FALSE(board->Bios().Read(0xFFFFFFF0, top));
}

TEST(BiosRom, RefusesStringsReadersCannotTerminate) {
  EXPECT_NO_THROW(BiosRom(std::string(199, 'A')));
  EXPECT_THROW(BiosRom(std::string(200, 'A')), std::invalid_argument);
  EXPECT_THROW(BiosRom(std::string("AB\0CD", 5)), std::invalid_argument);
  EXPECT_THROW(BiosRom("A", "1/1/03"), std::invalid_argument);
}

TEST_F(BoardTest, CpuHangsOnlyAboveItsHighestStableFsb) {
  auto board = Load();
  EXPECT_DOUBLE_EQ(board->Processor().Fsb(), 133.3);
  EXPECT_DOUBLE_EQ(board->Processor().CoreMhz(), 133.3 * 18);
  board->Processor().SetFsb(148.0);
  EXPECT_FALSE(board->Hung());
  board->Processor().SetFsb(148.1);
  EXPECT_TRUE(board->Hung());
  board->PowerOnReset();
  EXPECT_FALSE(board->Hung());
  EXPECT_DOUBLE_EQ(board->Processor().Fsb(), 133.3);
}

TEST_F(BoardTest, TimeStampCounterIntegratesOverClockChanges) {
  auto board = Load();
  Cpu& cpu = board->Processor();
  cpu.SetFsb(100.0);    // 1800 MHz from t = 0
  time.Advance(1s);     // 1.8e9 cycles
  cpu.SetFsb(140.0);    // 2520 MHz
  time.Advance(500ms);  // 1.26e9 cycles
  EXPECT_NEAR(static_cast<double>(cpu.TimeStampCounter()), 3.06e9, 2.0);
  time.Advance(500ms);
  EXPECT_NEAR(static_cast<double>(cpu.TimeStampCounter()), 4.32e9, 2.0);
  board->PowerOnReset();  // the counter starts over
  EXPECT_EQ(cpu.TimeStampCounter(), 0U);
  time.Advance(1ms);
  EXPECT_NEAR(static_cast<double>(cpu.TimeStampCounter()), 133.3 * 18 * 1000, 2.0);
}

TEST_F(BoardTest, WatchdogExpiryResetsEveryPartAndTellsListeners) {
  auto board = Load("[[chip]]\ntype = \"test-clock\"\npower_on_fsb = 100.0\n");
  auto* clock = board->Find<TestClock>();
  ASSERT_NE(clock, nullptr);
  EXPECT_EQ(clock->resets, 1);                        // the board starts from a power-on reset
  EXPECT_DOUBLE_EQ(board->Processor().Fsb(), 100.0);  // the clock chip wins over the profile

  int told = 0;
  std::uint64_t resetsSeen = 0;
  board->OnReset([&] {
    ++told;
    resetsSeen = board->ResetCount();
  });
  // Some state that a reset must undo.
  board->Ports().Out(0xCF8, 0x12);
  board->Processor().SetFsb(160.0);
  ASSERT_TRUE(board->Hung());

  Watchdog& dog = board->Dog();
  dog.SetTimeout(40s);
  dog.Enable(true);
  time.Advance(39s);
  board->Tick();
  EXPECT_EQ(told, 0);
  EXPECT_EQ(dog.Remaining(), 1s);
  time.Advance(999ms);
  board->Tick();
  EXPECT_EQ(dog.Remaining(), 1ms);
  EXPECT_EQ(told, 0);
  time.Advance(1ms);
  board->Tick();
  EXPECT_EQ(told, 1);
  EXPECT_EQ(resetsSeen, 1U);  // listeners see the reset already counted
  EXPECT_FALSE(board->Hung());
  EXPECT_EQ(clock->resets, 2);
  EXPECT_DOUBLE_EQ(board->Processor().Fsb(), 100.0);
  EXPECT_EQ(board->Ports().In(0xCF8), 0x00);
  EXPECT_FALSE(dog.Enabled());
  EXPECT_EQ(dog.Remaining(), 0ms);
  EXPECT_EQ(dog.Expiries(), 1U);
  // A disarmed watchdog stays quiet however long it waits.
  time.Advance(1h);
  board->Tick();
  EXPECT_EQ(told, 1);
}

TEST_F(BoardTest, DisablingOrRearmingTheWatchdogPostponesTheReset) {
  auto board = Load();
  Watchdog& dog = board->Dog();
  dog.SetTimeout(10s);
  dog.Enable(true);
  time.Advance(9s);
  dog.Enable(true);  // re-armed: a fresh full count
  time.Advance(9s);
  board->Tick();
  EXPECT_EQ(board->ResetCount(), 0U);
  dog.Enable(false);
  time.Advance(1min);
  board->Tick();
  EXPECT_EQ(board->ResetCount(), 0U);
  dog.Enable(true);
  time.Advance(10s);
  board->Tick();
  EXPECT_EQ(board->ResetCount(), 1U);
}

TEST_F(BoardTest, InspectShowsClocksWatchdogAndChips) {
  auto board = Load(
      "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x50\n"
      "[[chip]]\ntype = \"atxp3\"\naddress = 0x4E\n"
      "[[chip]]\ntype = \"sis962-gpio\"\n");
  board->Dog().SetTimeout(40s);
  board->Dog().Enable(true);
  time.Advance(15s);
  const auto state = board->Inspect();
  EXPECT_EQ(state["profile"], "test");
  EXPECT_EQ(state["biosModelString"], "TEST-BOARD 1.0");
  EXPECT_EQ(state["hung"], false);
  EXPECT_DOUBLE_EQ(state["cpu"]["fsbMhz"].get<double>(), 133.3);
  EXPECT_EQ(state["watchdog"]["enabled"], true);
  EXPECT_EQ(state["watchdog"]["remainingMs"], 25000);
  ASSERT_EQ(state["chips"].size(), 3U);  // the BIOS, the register file, the controller
  EXPECT_EQ(state["chips"][1]["name"], "smbus-register-file @0x50");
  EXPECT_EQ(state["chips"][2]["name"], "atxp3");
  ASSERT_EQ(state["planned"].size(), 1U);
  EXPECT_EQ(state["planned"][0]["type"], "sis962-gpio");
}

}  // namespace
}  // namespace rq::sim
