// The board-model sections shipped with the program and how they reach the
// settings file without disturbing what the user keeps there.
#include "engine/BoardSections.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "EngineFakes.h"
#include "driver/InProcessDriverHandle.h"
#include "engine/MSupport.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"

namespace rq::engine {
namespace {

using testing::SettingsFolder;

std::string FileText(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HasMonitorChip(const sim::Board& board) {
  const nlohmann::json state = board.Inspect();
  for (const auto& chip : state["chips"]) {
    std::string name = chip.value("name", "");
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.rfind("w83", 0) == 0 || name.rfind("it87", 0) == 0) return true;
  }
  return false;
}

TEST(BoardSections, EveryShippedBoardWithAMonitorHasASectionWithItsSensorNames) {
  sim::ManualTimeSource time;
  int boards = 0;
  for (const std::string& name : sim::Board::ShippedNames()) {
    auto board = sim::Board::Shipped(name, time);
    if (!HasMonitorChip(*board)) continue;
    ++boards;
    const std::string model = DeriveBoardModel(board->Bios().ModelString());
    const std::vector<BoardKey>& keys = ShippedBoardSection(model);
    ASSERT_FALSE(keys.empty()) << "board " << name << " (" << model << ")";
    auto value = [&](const std::string& key) -> std::string {
      for (const BoardKey& k : keys)
        if (key == k.key) return k.value;
      return "";
    };
    EXPECT_EQ(value("TempSensor2Label"), "CPU Temp") << name;
    EXPECT_EQ(value("Fan1Label"), "CPU Fan") << name;
    EXPECT_EQ(value("VCoreALabel"), "VCore") << name;
  }
  EXPECT_EQ(boards, 8);
}

TEST(BoardSections, AreCopiedOnceAndNeverOverAKeyTheUserHas) {
  SettingsFolder settings;
  ASSERT_TRUE(InstallBoardSection("zr865", settings.File()));  // section names ignore case
  EXPECT_EQ(settings.Read("TempSensor1Label", "ZR865"), "System Temp");
  EXPECT_EQ(settings.Read("VN5", "ZR865"), "0");

  // The user renames a sensor, removes one key and adds one of his own.
  settings.Write("TempSensor1Label", "Board", "ZR865");
  settings.Write("VCoreBLabel", "", "ZR865");
  std::ofstream(settings.File(), std::ios::app) << "; mine\n[ZR865]\nMyNote=keep\n";
  const std::string before = FileText(settings.File());
  ASSERT_TRUE(InstallBoardSection("ZR865", settings.File()));
  EXPECT_EQ(FileText(settings.File()), before);

  // Another board's section does not count as this one.
  ASSERT_TRUE(InstallBoardSection("SK-PRO", settings.File()));
  EXPECT_EQ(settings.Read("TempSensor2Label", "SK-PRO"), "CPU Temp");
  EXPECT_EQ(settings.Read("TempSensor1Label", "ZR865"), "Board");

  // An unknown board gets nothing.
  const std::string known = FileText(settings.File());
  ASSERT_TRUE(InstallBoardSection("NOSUCH", settings.File()));
  EXPECT_EQ(FileText(settings.File()), known);
}

TEST(BoardSections, KeysTheUserAddsSurviveTheProgramsOwnWrites) {
  SettingsFolder settings;
  std::ofstream(settings.File())
      << "; my notes\n[Overclock]\nMine=1\nInWatch=0\n[ZR865]\nFan1=1\nColour=blue\n";
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped("default", time);
  MSupportOptions options;
  options.settingsFile = settings.File();
  options.timing = std::make_shared<testing::FakeTiming>();
  sim::Board& b = *board;
  options.openDriver = [&b]() -> std::unique_ptr<hw::DriverHandle> {
    return std::make_unique<driver::InProcessDriverHandle>(b);
  };
  {
    MSupport support(std::move(options));
    support.SetInWatch(true);
    support.SetNoShowOverClkMsg(true);
    support.SaveSafeFreq();
    support.SetInWatch(false);
  }
  const std::string text = FileText(settings.File());
  for (const char* line : {"; my notes", "Mine=1", "Colour=blue", "Fan1=1", "NoShowOverClkMsg=1"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  // The user's section was there: nothing shipped was added to it.
  EXPECT_EQ(text.find("TempSensor1Label"), std::string::npos) << text;
}

// The GPIO boards' sections and the wiring of their virtual boards, each against
// the numbers the board's documentation gives.
TEST(BoardSections, GpioListsMatchTheVirtualBoardsWiring) {
  struct Gpio {
    const char* board;
    const char* model;
    const char* coreList;
    const char* memoryList;  // empty: the memory supply is not on the pins
    std::vector<double> corePercent;
    std::vector<double> memoryVolts;
  };
  const std::vector<Gpio> boards = {
      {"ich2-845", "UBX45Gra", "10,5,2.5,0", "2.8,2.7,2.6,2.55", {10, 5, 2.5, 0}, {2.8, 2.7, 2.6, 2.55}},
      {"qav", "QAV84", "10,7.5,5,0", "2.5,2.6,2.7,2.8", {10, 7.5, 5, 0}, {2.5, 2.6, 2.7, 2.8}},
      {"kolgra", "KOLGRA", "8,4,4,0", "2.5,2.6,2.7,2.8", {8, 4, 4, 0}, {2.5, 2.6, 2.7, 2.8}},
      {"via-kt400", "UKT40D", "6,4,2,0", "2.5,2.6,2.7,2.8", {6, 4, 2, 0}, {2.5, 2.6, 2.7, 2.8}},
      {"via-km400", "MKT6-ELI", "6,4,2,0", "", {6, 4, 2, 0}, {}},
      {"sis-648", "SK-PRO", "5,5,5,0", "2.5,2.6,2.7,2.8", {5, 5, 5, 0}, {2.5, 2.6, 2.7, 2.8}},
  };
  sim::ManualTimeSource time;
  for (const Gpio& g : boards) {
    auto board = sim::Board::Shipped(g.board, time);
    ASSERT_EQ(DeriveBoardModel(board->Bios().ModelString()), g.model);
    std::map<std::string, std::string> keys;
    for (const BoardKey& k : ShippedBoardSection(g.model)) keys[k.key] = k.value;
    EXPECT_EQ(keys["GPIOOverVolt"], "1") << g.board;
    EXPECT_EQ(keys["GPIOOverVcore"], "1") << g.board;
    EXPECT_EQ(keys["GPIOOverVcoreList"], g.coreList) << g.board;
    EXPECT_EQ(keys["GPIOOverVdimm"], *g.memoryList != 0 ? "1" : "0") << g.board;
    EXPECT_EQ(keys["GPIOOverVdimmList"], g.memoryList) << g.board;
    const nlohmann::json state = board->Inspect();
    std::vector<double> corePercent;
    std::vector<double> memoryVolts;
    for (const auto& chip : state["chips"]) {
      if (chip.contains("corePercent")) corePercent = chip["corePercent"].get<std::vector<double>>();
      if (chip.contains("memoryVolts")) memoryVolts = chip["memoryVolts"].get<std::vector<double>>();
    }
    EXPECT_EQ(corePercent, g.corePercent) << g.board;
    EXPECT_EQ(memoryVolts, g.memoryVolts) << g.board;
  }
}

// The raise buys the CPU FSB headroom: qav's default 1.57 V raised to 1.675 V
// selects +5 %, 76 mV over the VID, at 4 MHz per 100 mV.
TEST(BoardSections, RaisingTheCoreVoltageOnAGpioBoardRaisesTheHighestStableFsb) {
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped("qav", time);
  SettingsFolder settings;
  MSupportOptions options;
  options.settingsFile = settings.File();
  options.timing = std::make_shared<testing::FakeTiming>();
  options.openDriver = [&board]() -> std::unique_ptr<hw::DriverHandle> {
    return std::make_unique<driver::InProcessDriverHandle>(*board);
  };
  MSupport support(options);
  ASSERT_NE(support.gpioVoltage, nullptr);
  EXPECT_EQ(support.gpioVoltage->GetModel(), "Intel ICH4");
  const double before = board->Processor().MaxStableFsb();
  EXPECT_DOUBLE_EQ(before, 150.0);
  support.RaiseVoltages();
  EXPECT_NEAR(board->Processor().MaxStableFsb(), 150.0 + 0.07625 / 0.1 * 4, 1e-6);
  support.RestoreVoltages();
  EXPECT_DOUBLE_EQ(board->Processor().MaxStableFsb(), 150.0);
}

}  // namespace
}  // namespace rq::engine
