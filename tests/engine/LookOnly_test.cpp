// A look at the board (rqctl's read-only commands) changes nothing: no clock, no
// watchdog, no voltages, no settings, no lock; after a hang the restore is the
// caller's to run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EngineFakes.h"
#include "devices/SystemFacts.h"
#include "support/InProcessDriverHandle.h"
#include "engine/MSupport.h"
#include "engine/Sensors.h"
#include "hw/SmbusHost.h"
#include "platform/InstanceLock.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"

namespace rq::engine {
namespace {

using testing::SettingsFolder;

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class LookOnlyTest : public ::testing::Test {
 protected:
  LookOnlyTest() : board_(sim::Board::Shipped("default", time_)) {}

  std::unique_ptr<MSupport> Start() {
    MSupportOptions options;
    options.lookOnly = true;
    options.settingsFile = settings_.File();
    options.timing = timing_;
    options.openDriver = [this]() -> std::unique_ptr<hw::DriverHandle> {
      return std::make_unique<driver::InProcessDriverHandle>(*board_);
    };
    return std::make_unique<MSupport>(options);
  }
  double BoardFsb() {
    auto lock = board_->Lock();
    return board_->Processor().Fsb();
  }

  // The hosts' waits pass at once.
  hw::VirtualSmbusClock smbusClock_;
  hw::ScopedSmbusClock scopedClock_{smbusClock_};
  SettingsFolder settings_;
  std::shared_ptr<testing::FakeTiming> timing_ = std::make_shared<testing::FakeTiming>();
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
};

TEST_F(LookOnlyTest, AfterAHangItReadsWithoutRestoringAndTheRestoreRunsOnRequest) {
  // The last run hung with a safe clock of 146 MHz on record; the default board
  // runs at its power-on 133.3 MHz.
  settings_.Write("HWDefCPUClk", "133.3");
  settings_.Write("SafeFreq", "146");
  settings_.Write("InWatch", "1");
  const std::string before = FileText(settings_.File());
  {
    auto support = Start();
    ASSERT_TRUE(support->DriverReady());
    EXPECT_FALSE(support->anotherInstance);
    EXPECT_NEAR(support->fsbClock, 133.3, 0.05);
    EXPECT_NEAR(support->hwDefaultClock, 133.3, 0.05);
    EXPECT_FALSE(support->WatchdogRunning());
    // No lock was taken: the windowed program may start beside the look.
    bool exists = false;
    EXPECT_NE(platform::InstanceLock::Create(kInstanceMutexName, exists), nullptr);
  }
  EXPECT_NEAR(BoardFsb(), 133.3, 0.05);
  EXPECT_EQ(FileText(settings_.File()), before) << "a look wrote the settings file";

  auto support = Start();
  support->RunStartUpRestore();
  // The restore steps 3 MHz below the safe clock that hung, under the watchdog.
  EXPECT_NEAR(BoardFsb(), 143.0, 0.5);
  EXPECT_TRUE(support->WatchdogRunning());
  EXPECT_NEAR(std::stod(settings_.Read("SafeFreq")), 143.0, 0.5);
}

TEST_F(LookOnlyTest, ASettingsFileWithoutTheBoardsSectionReadsAsTheShippedOne) {
  auto support = Start();
  ASSERT_NE(support->hardwareMonitor, nullptr);
  const SensorReadings readings = ReadSensors(*support->hardwareMonitor);
  ASSERT_FALSE(readings.empty());
  // Temperatures are off unless the section switches them on.
  EXPECT_EQ(SensorName(readings.front().sensor), "System Temp");
  EXPECT_FALSE(settings_.Has("TempSensor1", support->boardModel));

  // A section the user has wins, key for key: the shipped one stands in for nothing.
  support.reset();
  settings_.Write("TempSensor2", "1", "ZR865");
  support = Start();
  const SensorReadings own = ReadSensors(*support->hardwareMonitor);
  ASSERT_FALSE(own.empty());
  EXPECT_EQ(SensorName(own.front().sensor), "");
  EXPECT_EQ(own.front().sensor, 1U);
}

}  // namespace
}  // namespace rq::engine
