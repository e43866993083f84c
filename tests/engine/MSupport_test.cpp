#include "engine/MSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "EngineFakes.h"
#include "devices/SystemFacts.h"
#include "engine/DisableWDThread.h"
#include "hw/DriverHandle.h"
#include "platform/MessageBox.h"
#include "platform/WorkerThread.h"

namespace rq::engine {
namespace {

using testing::ClockGenState;
using testing::FakeBoardOptions;
using testing::FakeNorthBridge;
using testing::FakeTiming;
using testing::SettingsFolder;

// A voltage device that records the order of its operations.
class FakeOverclock : public devices::I2cOverclkIo {
 public:
  FakeOverclock(bool present, std::vector<std::string>& log) : present_(present), log_(log) {
    modelName_ = "OC";
  }
  bool Probe() override { return present_; }
  double ReadDefaultCoreVoltage() override { return 1.5; }
  double ReadCoreVoltage() override { return raised_ ? 1.6 : 1.5; }
  double ReadMemoryVoltage() override { return raised_ ? 2.7 : 2.5; }
  void RaiseCoreVoltage() override { log_.push_back("raise core"), raised_ = true; }
  void RaiseMemoryVoltage() override { log_.push_back("raise memory"); }
  void RestoreCoreVoltage() override { log_.push_back("restore core"), raised_ = false; }
  void RestoreMemoryVoltage() override { log_.push_back("restore memory"); }
  void SetCoreVoltage(double) override {}
  void SetMemoryVoltage(double) override {}

 private:
  bool present_;
  bool raised_ = false;
  std::vector<std::string>& log_;
};

class CountingThread : public platform::WorkerThread {
 public:
  explicit CountingThread(std::atomic<int>& runs) : runs_(runs) {}
  ~CountingThread() override { Shutdown(); }

 protected:
  void Execute() override {
    ++runs_;
    while (SleepMs(5)) {
    }
  }

 private:
  std::atomic<int>& runs_;
};

class SystemObjectTest : public ::testing::Test {
 protected:
  MSupportOptions Options(const std::string& bios = "KOL1234A Gra") {
    return FakeBoardOptions(settings_, bios, clockGen_, timing_);
  }

  SettingsFolder settings_;
  std::shared_ptr<ClockGenState> clockGen_ = std::make_shared<ClockGenState>();
  std::shared_ptr<FakeTiming> timing_ = std::make_shared<FakeTiming>();
};

TEST_F(SystemObjectTest, ConstructionReadsBiosDetectsAndFillsTheSystemFacts) {
  MSupport support(Options());
  EXPECT_FALSE(support.anotherInstance);
  EXPECT_TRUE(support.DriverReady());
  EXPECT_EQ(support.biosModel, "KOL1234A Gra");
  EXPECT_EQ(support.boardModel, "KOLGra");
  ASSERT_NE(support.northBridge, nullptr);
  ASSERT_NE(support.clockGenerator, nullptr);
  EXPECT_EQ(MSupport::Instance(), &support);

  const devices::SystemFacts& facts = devices::CurrentSystem();
  EXPECT_EQ(facts.busSemaphore, &support.busSemaphore);
  EXPECT_EQ(facts.northBridge, support.northBridge.get());
  EXPECT_EQ(facts.clockGenerator, support.clockGenerator.get());
  EXPECT_EQ(facts.boardModel, "KOLGra");
  EXPECT_EQ(hw::ProcessDriverState().deviceHandle != nullptr, true);

  // Clocks were read after the start-up change; memory clock from the north bridge.
  EXPECT_EQ(support.hwDefaultClock, 133.0);
  EXPECT_EQ(support.fsbClock, 133.0);
  EXPECT_EQ(support.pciClock, 133.0 / 4);
  EXPECT_EQ(support.memoryClock, 266.0);
}

TEST_F(SystemObjectTest, DestructionDisarmsAndClearsTheSharedState) {
  {
    MSupport support(Options());
    ASSERT_TRUE(support.WatchdogRunning());
  }
  EXPECT_FALSE(clockGen_->WatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "0");
  EXPECT_EQ(MSupport::Instance(), nullptr);
  EXPECT_EQ(devices::CurrentSystem().clockGenerator, nullptr);
  EXPECT_EQ(devices::CurrentSystem().busSemaphore, nullptr);
  EXPECT_EQ(hw::ProcessDriverState().deviceHandle, nullptr);
}

TEST_F(SystemObjectTest, BiosStringStopsAtTheFirstZeroAndIsCappedAt199Characters) {
  const std::string longModel(250, 'Q');
  MSupport support(Options(longModel));
  EXPECT_EQ(support.biosModel, std::string(199, 'Q'));
}

TEST_F(SystemObjectTest, DetectionKeepsTheFirstPresentCandidateOnly) {
  std::vector<std::string> probed;
  MSupportOptions options = Options();
  options.northBridgeCandidates = [&] {
    devices::CandidateList<devices::PciMchIo> list;
    for (auto [name, present] : {std::pair{"A", false}, {"B", true}, {"C", true}}) {
      list.push_back([&probed, name = std::string(name), present = present] {
        return std::make_unique<FakeNorthBridge>(name, present, &probed);
      });
    }
    return list;
  };
  MSupport support(options);
  ASSERT_NE(support.northBridge, nullptr);
  EXPECT_EQ(support.northBridge->GetModel(), "B");
  EXPECT_EQ(probed, (std::vector<std::string>{"A", "B"}));
}

TEST_F(SystemObjectTest, BoardModelStartingWithNGetsNoClockGenerator) {
  std::string askedFor = "<never>";
  MSupportOptions options = Options("N1234");
  options.clockGeneratorCandidates = [&](const std::string& model) {
    askedFor = model;
    return devices::CandidateList<devices::I2cClockGenIo>{};
  };
  MSupport support(options);
  EXPECT_EQ(support.boardModel, "N12");
  EXPECT_EQ(support.clockGenerator, nullptr);
  EXPECT_EQ(askedFor, "<never>");
  EXPECT_EQ(support.WatchdogThread(), nullptr);  // no start-up change without a chip
}

TEST_F(SystemObjectTest, ClockGeneratorListIsChosenByTheBoardModel) {
  std::string askedFor;
  MSupportOptions options = Options("VEX1234 abc800");
  options.clockGeneratorCandidates = [&](const std::string& model) {
    askedFor = model;
    return devices::CandidateList<devices::I2cClockGenIo>{};
  };
  MSupport support(options);
  EXPECT_EQ(askedFor, "VEX800");
}

TEST_F(SystemObjectTest, DriverFailureSkipsDetectionAndThreads) {
  std::atomic<int> runs = 0;
  MSupportOptions options = Options();
  options.openDriver = [] { return std::unique_ptr<hw::DriverHandle>(); };
  options.makeCpuSpeedThread = [&](MSupport&) { return std::make_unique<CountingThread>(runs); };
  MSupport support(options);
  EXPECT_FALSE(support.anotherInstance);
  EXPECT_FALSE(support.DriverReady());
  EXPECT_EQ(support.boardModel, "");
  EXPECT_EQ(support.northBridge, nullptr);
  EXPECT_EQ(support.clockGenerator, nullptr);
  EXPECT_EQ(clockGen_->SetFsbCalls().size(), 0u);
  EXPECT_EQ(runs, 0);
}

TEST_F(SystemObjectTest, SecondInstanceInitialisesNothing) {
  MSupport first(Options());
  int opened = 0;
  MSupportOptions options = Options();
  options.openDriver = [&] {
    ++opened;
    return std::unique_ptr<hw::DriverHandle>();
  };
  {
    MSupport second(options);
    EXPECT_TRUE(second.anotherInstance);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(second.northBridge, nullptr);
    EXPECT_EQ(second.biosModel, "");
    EXPECT_EQ(MSupport::Instance(), &first);
  }
  // The second one's end leaves the first untouched.
  EXPECT_EQ(devices::CurrentSystem().clockGenerator, first.clockGenerator.get());
  EXPECT_TRUE(first.WatchdogRunning());
}

// A file its group may write is named to the user, and nothing in it is acted on.
TEST_F(SystemObjectTest, APlantedSettingsFileIsToldAndNotActedOn) {
  settings_.Write("InWatch", "1");
  settings_.Write("SafeFreq", "143.7");
  std::filesystem::permissions(settings_.File(), std::filesystem::perms::group_write,
                               std::filesystem::perm_options::add);
  std::string box;
  platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
    if (box.empty()) box = text;
    return platform::kIdOk;
  });
  MSupport support(Options());
  platform::SetMessageBoxHandler({});
  EXPECT_NE(box.find(settings_.File() + " may be written by other users"), std::string::npos) << box;
  for (const double fsb : clockGen_->SetFsbCalls()) EXPECT_NEAR(fsb, 133.0, 0.5);
  EXPECT_FALSE(support.ChangeFsb(140, true));  // no mark can be kept in it
}

TEST_F(SystemObjectTest, InstanceLockIsFreeAgainAfterTheObjectEnds) {
  { MSupport first(Options()); }
  MSupport again(Options());
  EXPECT_FALSE(again.anotherInstance);
}

TEST_F(SystemObjectTest, ThreadsStartAndTheMonitorThreadWaitsSuspended) {
  std::atomic<int> cpuRuns = 0;
  std::atomic<int> monitorRuns = 0;
  MSupportOptions options = Options();
  options.makeCpuSpeedThread = [&](MSupport&) { return std::make_unique<CountingThread>(cpuRuns); };
  options.makeHwMonitorThread = [&](MSupport&) { return std::make_unique<CountingThread>(monitorRuns); };
  MSupport support(options);
  for (int i = 0; i < 2000 && cpuRuns == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(cpuRuns, 1);
  EXPECT_EQ(monitorRuns, 0);
  support.ResumeHwMonitorThread();
  for (int i = 0; i < 2000 && monitorRuns == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(monitorRuns, 1);
}

TEST_F(SystemObjectTest, VoltagesFollowVoltShiftAtStartUp) {
  std::vector<std::string> log;
  MSupportOptions options = Options();
  options.overclockControllerCandidates = [&] {
    devices::CandidateList<devices::I2cOverclkIo> list;
    list.push_back([&] { return std::make_unique<FakeOverclock>(true, log); });
    return list;
  };
  {
    MSupport support(options);
    EXPECT_EQ(log, (std::vector<std::string>{"restore core", "restore memory"}));
    EXPECT_EQ(support.coreVoltage, 1.5);
    EXPECT_EQ(support.memoryVoltage, 2.5);
  }
  log.clear();
  settings_.Write("VoltShift", "1");
  MSupport support(options);
  EXPECT_EQ(log, (std::vector<std::string>{"raise core", "raise memory"}));
  EXPECT_EQ(support.coreVoltage, 1.6);
  EXPECT_EQ(support.memoryVoltage, 2.7);
}

// The supplies follow what the settings file says, also when it cannot be written:
// the next start applies the file, and the user hears of the failure once.
TEST_F(SystemObjectTest, VoltShiftThatCannotBeWrittenLeavesTheSuppliesWithTheFile) {
  std::vector<std::string> log;
  MSupportOptions options = Options();
  options.overclockControllerCandidates = [&] {
    devices::CandidateList<devices::I2cOverclkIo> list;
    list.push_back([&] { return std::make_unique<FakeOverclock>(true, log); });
    return list;
  };
  int boxes = 0;
  platform::SetMessageBoxHandler([&](const std::string&, const std::string&, unsigned) {
    ++boxes;
    return platform::kIdOk;
  });
  struct Case {
    const char* stored;
    bool asked;
    bool raised;
    const char* operation;
  };
  for (const Case c : {Case{"1", false, true, "raise core"}, Case{"0", true, false, "restore core"}}) {
    SCOPED_TRACE(c.stored);
    settings_.Write("VoltShift", c.stored);
    MSupport support(options);
    std::filesystem::permissions(settings_.File(), std::filesystem::perms::owner_read);
    log.clear();
    boxes = 0;
    EXPECT_EQ(support.ApplyVoltShift(c.asked), c.raised);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), c.operation);
    EXPECT_EQ(support.coreVoltage, c.raised ? 1.6 : 1.5);
    EXPECT_EQ(settings_.Read("VoltShift"), c.stored);
    EXPECT_EQ(boxes, 1);
    std::filesystem::permissions(settings_.File(), std::filesystem::perms::owner_all);
    // Written: the request goes through.
    EXPECT_EQ(support.ApplyVoltShift(c.asked), c.asked);
    EXPECT_EQ(settings_.Read("VoltShift"), c.asked ? "1" : "0");
    EXPECT_EQ(support.coreVoltage, c.asked ? 1.6 : 1.5);
  }
  platform::SetMessageBoxHandler({});
}

TEST_F(SystemObjectTest, GpioVoltageIsSearchedOnlyWhenTheBoardSectionAsksForIt) {
  int searched = 0;
  MSupportOptions options = Options();
  options.gpioVoltageCandidates = [&] {
    ++searched;
    return devices::CandidateList<devices::GpioVoltIo>{};
  };
  settings_.Write("GPIOOverVolt", "0", "KOLGra");  // the shipped section asks for it
  { MSupport support(options); }
  EXPECT_EQ(searched, 0);
  settings_.Write("GPIOOverVolt", "1", "KOLGra");
  { MSupport support(options); }
  EXPECT_EQ(searched, 1);
}

TEST_F(SystemObjectTest, ChipsReadTheirBoardSectionFromTheSameSettingsFile) {
  settings_.Write("TempSensor2", "1", "KOLGra");
  settings_.Write("Fan1Label", "CPU fan", "KOLGra");
  settings_.Write("TempSensor2", "1", "Other");
  MSupport support(Options());
  EXPECT_EQ(devices::BoardSettingInt("TempSensor2", 0), 1);
  EXPECT_EQ(devices::BoardSettingInt("VCoreA", 1), 1);
  EXPECT_EQ(devices::BoardSettingString("Fan1Label"), "CPU fan");
  settings_.Write("TempSensor2", "0", "KOLGra");  // never cached
  EXPECT_EQ(devices::BoardSettingInt("TempSensor2", 1), 0);
}

TEST_F(SystemObjectTest, FlagSettingsAreWrittenAsDigitsAndReadAsNonZero) {
  MSupport support(Options());
  support.SetRecoverToDef(true);
  support.SetNoShowOverClkMsg(true);
  support.SetVoltShift(false);
  EXPECT_EQ(settings_.Read("RecoverToDef"), "1");
  EXPECT_EQ(settings_.Read("NoShowOverClkMsg"), "1");
  EXPECT_EQ(settings_.Read("VoltShift"), "0");
  EXPECT_TRUE(support.GetRecoverToDef());
  EXPECT_FALSE(support.GetVoltShift());

  // Not cached: a change on disk is seen at once, and 5 counts as set.
  settings_.Write("InWatch", "5");
  EXPECT_TRUE(support.GetInWatch());
  settings_.Write("RecoverToDef", "0");
  EXPECT_FALSE(support.GetRecoverToDef());
  // An empty section name finds nothing.
  EXPECT_EQ(support.ReadSettingInt("", "TempSensor1", 7), 7);
}

}  // namespace
}  // namespace rq::engine
