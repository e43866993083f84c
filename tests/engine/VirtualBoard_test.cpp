// The system object on the virtual board, through the daemon's own request decoder.
#include <gtest/gtest.h>

#include "EngineFakes.h"
#include "driver/InProcessDriverHandle.h"
#include "engine/MSupport.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"

namespace rq::engine {
namespace {

using testing::SettingsFolder;

class VirtualBoardTest : public ::testing::TestWithParam<std::string> {
 protected:
  MSupportOptions Options(sim::Board& board) {
    MSupportOptions options;
    options.settingsFile = settings_.File();
    options.timing = timing_;
    options.openDriver = [&board]() -> std::unique_ptr<hw::DriverHandle> {
      return std::make_unique<driver::InProcessDriverHandle>(board);
    };
    return options;
  }

  SettingsFolder settings_;
  std::shared_ptr<testing::FakeTiming> timing_ = std::make_shared<testing::FakeTiming>();
  sim::ManualTimeSource time_;
};

TEST_P(VirtualBoardTest, ReadsTheBiosStringAndDetectsTheNorthBridge) {
  auto board = sim::Board::Shipped(GetParam(), time_);
  MSupport support(Options(*board));
  ASSERT_TRUE(support.DriverReady());
  EXPECT_EQ(support.biosModel, board->Bios().ModelString());
  EXPECT_EQ(support.boardModel, DeriveBoardModel(board->Bios().ModelString()));
  EXPECT_FALSE(support.boardModel.empty());
  ASSERT_NE(support.northBridge, nullptr) << "board " << GetParam();
  EXPECT_FALSE(support.northBridge->GetModel().empty());
}

INSTANTIATE_TEST_SUITE_P(Shipped, VirtualBoardTest, ::testing::ValuesIn(sim::Board::ShippedNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace rq::engine
