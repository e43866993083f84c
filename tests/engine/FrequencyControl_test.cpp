#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "EngineFakes.h"
#include "engine/DisableWDThread.h"
#include "engine/Formatting.h"
#include "engine/MSupport.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"

namespace rq::engine {
namespace {

using testing::ClockGenState;
using testing::FakeBoardOptions;
using testing::FakeTiming;
using testing::SettingsFolder;

class FrequencyControlTest : public ::testing::Test {
 protected:
  std::unique_ptr<MSupport> Start() {
    return std::make_unique<MSupport>(FakeBoardOptions(settings_, "KOL1234A Gra", clockGen_, timing_));
  }
  // Lets the start-up change's watch run out, so each test begins without a thread.
  std::unique_ptr<MSupport> StartQuiet() {
    auto support = Start();
    timing_->AdvanceSeconds(10);
    support->WatchdogThread()->WaitFor();
    return support;
  }

  SettingsFolder settings_;
  std::shared_ptr<ClockGenState> clockGen_ = std::make_shared<ClockGenState>();
  std::shared_ptr<FakeTiming> timing_ = std::make_shared<FakeTiming>();
};

TEST_F(FrequencyControlTest, OverclockPercent) {
  auto support = StartQuiet();
  support->hwDefaultClock = 0;
  support->fsbClock = 150;
  EXPECT_EQ(support->GetOverclockPercent(), 100);
  support->hwDefaultClock = 133.3;
  support->fsbClock = 146.63;  // 110.0
  EXPECT_EQ(support->GetOverclockPercent(), 110);
  support->fsbClock = 150.0;  // 112.53
  EXPECT_EQ(support->GetOverclockPercent(), 113);
  support->hwDefaultClock = 100;
  support->fsbClock = 120.5;  // exactly 120.5 rounds up
  EXPECT_EQ(support->GetOverclockPercent(), 121);
}

TEST_F(FrequencyControlTest, SaveSafeFreqRoundsBothClocksToWholeMhz) {
  auto support = StartQuiet();
  support->ClearSafeFreq();
  support->hwDefaultClock = 133.3;

  support->fsbClock = 132.6;  // rounds to 133 like the default: safe
  support->SaveSafeFreq();
  EXPECT_EQ(settings_.Read("SafeFreq"), "132.6");

  support->fsbClock = 132.4;  // rounds to 132: below the default, not stored
  support->SaveSafeFreq();
  EXPECT_EQ(settings_.Read("SafeFreq"), "132.6");

  support->hwDefaultClock = 133.5;  // 134 after rounding half away from zero
  support->fsbClock = 133.4;
  support->SaveSafeFreq();
  EXPECT_EQ(settings_.Read("SafeFreq"), "132.6");

  support->fsbClock = 150.0;
  support->SaveSafeFreq();
  EXPECT_EQ(settings_.Read("SafeFreq"), "150");
}

TEST_F(FrequencyControlTest, SafeFreqAndHardwareDefaultBookkeeping) {
  auto support = StartQuiet();
  support->hwDefaultClock = 133.3;
  support->ClearSafeFreq();
  EXPECT_FALSE(settings_.Has("SafeFreq"));
  EXPECT_EQ(support->GetSafeFreq(false), 133.3);
  settings_.Write("SafeFreq", "147.5");
  EXPECT_EQ(support->GetSafeFreq(false), 147.5);
  EXPECT_EQ(support->GetSafeFreq(true), 133.3);
  // Not a number, not above 0, or absurdly far above the default: as if absent.
  for (const char* untrusted : {"fast", "1e300", "266.7", "0", "-140"}) {
    settings_.Write("SafeFreq", untrusted);
    EXPECT_EQ(support->GetSafeFreq(false), 133.3) << untrusted;
  }
  settings_.Write("SafeFreq", "266.6");
  EXPECT_EQ(support->GetSafeFreq(false), 266.6);
  clockGen_->highestFsb = 250.0;  // beyond what the PLL makes: as if absent
  EXPECT_EQ(support->GetSafeFreq(false), 133.3);

  support->SaveHwDefaultClock(133.3);
  EXPECT_EQ(settings_.Read("HWDefCPUClk"), "133.3");
  EXPECT_EQ(support->LoadHwDefaultClock(), 133.3);
  support->hwDefaultClock = 133.9;  // same whole MHz
  EXPECT_FALSE(support->HwDefaultClockChanged());
  support->hwDefaultClock = 166.0;
  EXPECT_TRUE(support->HwDefaultClockChanged());
  // Only a record that reads as a clock can tell of a change.
  for (const char* unreadable : {"", "garbage", "13x3", "0"}) {
    settings_.Write("HWDefCPUClk", unreadable);
    EXPECT_EQ(support->LoadHwDefaultClock(), 0.0) << unreadable;
    EXPECT_FALSE(support->HwDefaultClockChanged()) << unreadable;
  }
}

TEST_F(FrequencyControlTest, InWatchIsOnDiskBeforeTheFirstRegisterIsWritten) {
  auto support = StartQuiet();
  ASSERT_EQ(settings_.Read("InWatch"), "0");
  std::vector<std::pair<int, bool>> seen;  // InWatch on disk, watchdog on
  clockGen_->onSetFsb = [&](double) {
    seen.emplace_back(platform::GetPrivateProfileInt("Overclock", "InWatch", 0, settings_.File()),
                      clockGen_->WatchdogOn());
  };
  support->ChangeFsb(140, true);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, 1);
  EXPECT_TRUE(seen[0].second);
  EXPECT_EQ(clockGen_->SetFsbCalls().back(), 140);
  // The settle time before programming is kept.
  EXPECT_EQ(timing_->Sleeps().back(), 100u);
}

TEST_F(FrequencyControlTest, TwoQuickStepsReuseTheRunningThreadAndRestartItsCount) {
  auto support = StartQuiet();
  support->ChangeFsb(134, true);
  DisableWDThread* first = support->WatchdogThread();
  timing_->AdvanceSeconds(7);
  const int enablesBefore = clockGen_->watchdogEnables;
  support->ChangeFsb(135, true);
  EXPECT_EQ(support->WatchdogThread(), first);
  EXPECT_EQ(clockGen_->watchdogEnables, enablesBefore + 1);  // re-armed, not a new thread

  timing_->AdvanceSeconds(8);  // 15 s after the first step, 8 after the second
  EXPECT_TRUE(support->WatchdogRunning());
  EXPECT_EQ(settings_.Read("InWatch"), "1");
  timing_->AdvanceOneSecond();
  first->WaitFor();
  EXPECT_FALSE(clockGen_->WatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

TEST_F(FrequencyControlTest, AStepAfterTheWatchEndedStartsAFreshThread) {
  auto support = StartQuiet();
  ASSERT_FALSE(support->WatchdogRunning());
  ASSERT_FALSE(clockGen_->WatchdogOn());
  const int enablesBefore = clockGen_->watchdogEnables;
  ASSERT_TRUE(support->ChangeFsb(140, true));
  // The new thread arms before the clock moves, and then does its whole job: it
  // disarms by itself once the change has stood for ten seconds.
  DisableWDThread* fresh = support->WatchdogThread();
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(support->WatchdogRunning());
  EXPECT_TRUE(clockGen_->WatchdogOn());
  EXPECT_EQ(clockGen_->watchdogEnables, enablesBefore + 1);
  EXPECT_EQ(clockGen_->fsb, 140);
  EXPECT_EQ(settings_.Read("InWatch"), "1");
  timing_->AdvanceSeconds(10);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!fresh->Finished() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(fresh->Finished()) << "the new watch never ended";
  EXPECT_FALSE(support->WatchdogRunning());
  EXPECT_FALSE(clockGen_->WatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

TEST_F(FrequencyControlTest, ClosingWithinTenSecondsDisarmsAndClearsInWatch) {
  auto support = StartQuiet();
  support->ChangeFsb(140, true);
  timing_->AdvanceSeconds(3);
  support->StopWatchdogThread();
  EXPECT_FALSE(support->WatchdogRunning());
  EXPECT_FALSE(clockGen_->WatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "0");
  // The clock itself stays where the step put it.
  EXPECT_EQ(clockGen_->fsb, 140);
}

// A driver that can stop answering, as a stopped or hung daemon does.
class LosableDriver : public hw::DriverHandle {
 public:
  LosableDriver(std::unique_ptr<hw::DriverHandle> inner, std::shared_ptr<std::atomic<bool>> lost)
      : inner_(std::move(inner)), lost_(std::move(lost)) {}
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override {
    return !*lost_ && inner_->DeviceIoControl(code, buffer, length);
  }
  bool Connected() const override { return !*lost_; }

 private:
  std::unique_ptr<hw::DriverHandle> inner_;
  std::shared_ptr<std::atomic<bool>> lost_;
};

TEST_F(FrequencyControlTest, AWatchEndedWithTheDriverGoneKeepsTheMark) {
  auto lost = std::make_shared<std::atomic<bool>>(false);
  MSupportOptions options = FakeBoardOptions(settings_, "KOL1234A Gra", clockGen_, timing_);
  options.openDriver = [open = options.openDriver, lost]() -> std::unique_ptr<hw::DriverHandle> {
    return std::make_unique<LosableDriver>(open(), lost);
  };
  auto support = std::make_unique<MSupport>(std::move(options));
  timing_->AdvanceSeconds(10);
  support->WatchdogThread()->WaitFor();
  ASSERT_EQ(settings_.Read("InWatch"), "0");
  support->ChangeFsb(140, true);
  *lost = true;  // the disarm cannot be known to have reached the chip
  support->StopWatchdogThread();
  EXPECT_EQ(settings_.Read("InWatch"), "1");
}

// A running process's mark is its own: our watch neither takes it over nor clears it;
// a gone holder's (pid 1 with another start time) is a hang's, ours to renew and clear.
TEST_F(FrequencyControlTest, AWatchClearsTheMarkOnlyIfItSetIt) {
  auto support = StartQuiet();
  const std::string running = WatchIdentity(1);
  for (const std::string& holder : {running, running + "0"}) {
    settings_.Write("InWatch", "1");
    settings_.Write("InWatchBy", holder);
    ASSERT_TRUE(support->ChangeFsb(140, true));
    timing_->AdvanceSeconds(10);
    support->WatchdogThread()->WaitFor();
    EXPECT_EQ(settings_.Read("InWatch"), holder == running ? "1" : "0");
    EXPECT_EQ(settings_.Read("InWatchBy"), holder == running ? holder : "");
  }
}

TEST_F(FrequencyControlTest, AnEndlessWatchLastsUntilStopped) {
  auto support = StartQuiet();
  support->ChangeFsb(133, true);
  support->ChangeFsb(150, false);
  timing_->AdvanceSeconds(25);
  EXPECT_TRUE(support->WatchdogRunning());
  EXPECT_TRUE(clockGen_->WatchdogOn());
  support->StopWatchdogThread();
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

TEST_F(FrequencyControlTest, RefreshClocksReadsTheChipBack) {
  auto support = StartQuiet();
  clockGen_->fsb = 160;
  support->RefreshClocks();
  EXPECT_EQ(support->fsbClock, 160);
  EXPECT_EQ(support->agpClock, 80);
  EXPECT_EQ(support->pciClock, 40);
  EXPECT_EQ(support->memoryClock, 320);
}

// --- start-up restore ------------------------------------------------------------

struct RestoreCase {
  const char* name;
  const char* inWatch;
  const char* recoverToDef;
  const char* safeFreq;     // null: absent
  const char* hwDefCpuClk;  // recorded default; null: absent
  double defaultFsb;
  double expectedClock;
  const char* expectedSafeFreq;  // null: absent afterwards
};

class StartUpRestoreTest : public FrequencyControlTest, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(StartUpRestoreTest, RestartsAtTheExpectedClock) {
  const RestoreCase& c = GetParam();
  settings_.Write("InWatch", c.inWatch);
  settings_.Write("RecoverToDef", c.recoverToDef);
  if (c.safeFreq != nullptr) settings_.Write("SafeFreq", c.safeFreq);
  if (c.hwDefCpuClk != nullptr) settings_.Write("HWDefCPUClk", c.hwDefCpuClk);
  clockGen_->defaultFsb = c.defaultFsb;
  clockGen_->fsb = c.defaultFsb;  // a reset board runs at its default

  auto support = Start();
  EXPECT_EQ(clockGen_->SetFsbCalls(), std::vector<double>{c.expectedClock});
  EXPECT_EQ(support->fsbClock, c.expectedClock);
  EXPECT_EQ(support->hwDefaultClock, c.defaultFsb);
  EXPECT_EQ(TextToFloat(settings_.Read("HWDefCPUClk")), c.defaultFsb);
  if (c.expectedSafeFreq == nullptr) {
    EXPECT_FALSE(settings_.Has("SafeFreq"));
  } else {
    EXPECT_EQ(settings_.Read("SafeFreq"), c.expectedSafeFreq);
  }
  // The restored clock is watched like any change, then the mark is cleared.
  EXPECT_TRUE(support->WatchdogRunning());
  EXPECT_EQ(settings_.Read("InWatch"), "1");
  timing_->AdvanceSeconds(10);
  support->WatchdogThread()->WaitFor();
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUpRestoreTest,
    ::testing::Values(
        RestoreCase{"HangBacksOffThreeMhz", "1", "0", "150", "133", 133, 147, "147"},
        RestoreCase{"HangWithRecoverToDefault", "1", "1", "150", "133", 133, 133, "133"},
        RestoreCase{"SafeAtMostThreeAboveGoesToDefault", "1", "0", "136", "133", 133, 133, "133"},
        RestoreCase{"ChangedDefaultForgetsSafeFirst", "1", "0", "150", "100", 133, 133, "133"},
        RestoreCase{"AbsentRecordedDefaultKeepsSafe", "1", "0", "150", nullptr, 133, 147, "147"},
        RestoreCase{"CleanRunReappliesSafe", "0", "0", "150", "133", 133, 150, "150"},
        RestoreCase{"CleanRunWithoutSafeGoesToDefault", "0", "0", nullptr, "133", 133, 133, nullptr},
        RestoreCase{"InWatchFiveCountsAsSet", "5", "0", "150", "133", 133, 147, "147"},
        RestoreCase{"UnreadableSafeIsTreatedAsAbsent", "0", "0", "oops", "133", 133, 133, "oops"},
        RestoreCase{"UnreadableSafeAfterHang", "1", "0", "oops", "133", 133, 133, "133"},
        RestoreCase{"UnreadableRecordedDefaultKeepsSafe", "0", "0", "150", "13x3", 133, 150, "150"},
        RestoreCase{"AbsurdSafeIsTreatedAsAbsent", "0", "0", "1e300", "133", 133, 133, "1e300"},
        RestoreCase{"AbsurdSafeAfterHang", "1", "0", "1e300", "133", 133, 133, "133"}),
    [](const ::testing::TestParamInfo<RestoreCase>& param) { return std::string(param.param.name); });

// The machine stops inside SetFsb; the next start finds the file as it was then.
TEST_F(FrequencyControlTest, ARecoveryClockThatHangsIsNeverTriedAgain) {
  settings_.Write("InWatch", "1");
  settings_.Write("SafeFreq", "152");
  settings_.Write("HWDefCPUClk", "133");
  std::string leftOnDisk;
  clockGen_->onSetFsb = [&](double) {
    std::ifstream in(settings_.File());
    std::stringstream text;
    text << in.rdbuf();
    leftOnDisk = text.str();
  };
  std::vector<double> tried;
  for (double expected : {149.0, 146.0, 143.0}) {
    Start().reset();
    std::ofstream(settings_.File()) << leftOnDisk;
    ASSERT_EQ(settings_.Read("InWatch"), "1");
    tried.push_back(clockGen_->SetFsbCalls().back());
    EXPECT_EQ(tried.back(), expected);
  }
  // Near the default the recovery goes to the default, whatever was tried.
  settings_.Write("SafeFreq", "135");
  Start().reset();
  EXPECT_EQ(clockGen_->SetFsbCalls().back(), 133.0);
}

// The settings live in a folder the test takes away and brings back.
TEST_F(FrequencyControlTest, AChangeThatCannotBeMarkedIsRefusedAndToldOncePerStreak) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(settings_.File()).parent_path() / "settings";
  const fs::path away = folder.string() + ".away";
  fs::create_directory(folder);
  MSupportOptions options = FakeBoardOptions(settings_, "KOL1234A Gra", clockGen_, timing_);
  options.settingsFile = (folder / "torvane.ini").string();
  std::vector<std::string> boxes;
  platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
    boxes.push_back(text);
    return platform::kIdOk;
  });
  MSupport support(options);
  timing_->AdvanceSeconds(10);
  support.WatchdogThread()->WaitFor();
  const std::size_t programmed = clockGen_->SetFsbCalls().size();

  fs::rename(folder, away);
  EXPECT_FALSE(support.ChangeFsb(150, true));
  EXPECT_FALSE(support.ChangeFsb(151, true));
  EXPECT_EQ(clockGen_->SetFsbCalls().size(), programmed) << "no clock without the mark on disk";
  EXPECT_FALSE(clockGen_->WatchdogOn());
  EXPECT_FALSE(support.SetVoltShift(true));
  support.fsbClock = 150;
  support.SaveSafeFreq();
  ASSERT_EQ(boxes.size(), 1u) << "one box for the whole streak";
  EXPECT_NE(boxes[0].find(options.settingsFile), std::string::npos) << boxes[0];

  fs::rename(away, folder);
  EXPECT_TRUE(support.ChangeFsb(150, true));
  EXPECT_EQ(clockGen_->SetFsbCalls().back(), 150);
  timing_->AdvanceSeconds(10);
  support.WatchdogThread()->WaitFor();
  fs::rename(folder, away);
  EXPECT_FALSE(support.SetVoltShift(true));
  EXPECT_EQ(boxes.size(), 2u) << "a new streak is news again";
  fs::rename(away, folder);
  platform::SetMessageBoxHandler({});
}

TEST_F(FrequencyControlTest, RestoreWithoutHangLeavesInWatchMarkToTheThread) {
  settings_.Write("InWatch", "1");
  settings_.Write("SafeFreq", "150");
  settings_.Write("HWDefCPUClk", "133");
  auto support = Start();
  // Closing right away still ends with the mark cleared and the watchdog off.
  support.reset();
  EXPECT_EQ(settings_.Read("InWatch"), "0");
  EXPECT_FALSE(clockGen_->WatchdogOn());
}

}  // namespace
}  // namespace rq::engine
