// The board-model sections shipped with the program and how they reach the
// settings file without disturbing what the user keeps there.
#include "engine/BoardSections.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "EngineFakes.h"
#include "engine/MSupport.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"
#include "support/InProcessDriverHandle.h"

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

}  // namespace
}  // namespace rq::engine
