#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "engine/DisableWDThread.h"
#include "engine/MSupport.h"
#include "engine/Timing.h"
#include "hw/SmbusHost.h"
#include "platform/MessageBox.h"
#include "platform/ProfileFile.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"
#include "support/TempDir.h"
#include "verify/VerifySystem.h"
#include "verify/VerifyThreads.h"

namespace rq::verify {
namespace {

using ::testing::ElementsAre;

// A clock generator that runs at whatever it was last set to, in 0.1 MHz steps.
class FakeClockGenerator : public devices::I2cClockGenIo {
 public:
  explicit FakeClockGenerator(std::vector<double>* writes) : writes_(writes) {}
  unsigned GetCpuDivider() override { return 2; }
  unsigned GetAgpDivider() override { return 3; }
  unsigned GetPciDivider() override { return 6; }
  unsigned GetPllM() override { return 1; }
  unsigned GetPllN() override { return 1; }
  bool Detect() override { return true; }
  void SetWatchdogTime(int) override {}
  void EnableWatchdog(bool) override {}
  double GetDefaultFsb() override { return 133.3; }
  void SetFsb(double mhz) override {
    writes_->push_back(mhz);
    fsb_ = mhz;
  }
  double GetFsb() override { return fsb_; }
  double GetAgpClock(double fsb) override { return fsb / 2; }
  double GetPciClock(double fsb) override { return fsb / 4; }
  double GetMemRefClock() override { return 0; }

 private:
  std::vector<double>* writes_;
  double fsb_ = 133.3;
};

class NoDriver : public hw::DriverHandle {
 public:
  bool DeviceIoControl(std::uint32_t, std::uint8_t*, std::uint32_t) override { return false; }
};

class InstantTiming : public engine::Timing {
 public:
  bool WaitForEvent(platform::Event& event, std::uint32_t) override { return event.Wait(0); }
  void Sleep(std::uint32_t) override {}
};

// The desktop and the windows, recorded. Sleeps return at once.
class FakeEnvironment : public VerifyEnvironment {
 public:
  std::optional<ProcessId> StartProgram(const std::string& commandLine) override {
    std::lock_guard lock(mutex);
    started.push_back(commandLine);
    if (unstartable.count(commandLine) != 0) return std::nullopt;
    const ProcessId pid = nextPid++;
    running.insert(pid);
    if (ignoresClose.count(commandLine) != 0) stubborn.insert(pid);
    return pid;
  }
  void CloseWindows(const std::string& title) override {
    std::lock_guard lock(mutex);
    closeRequests.push_back(title);
    for (ProcessId pid : std::set<ProcessId>(running)) {
      if (stubborn.count(pid) == 0) running.erase(pid);
    }
  }
  std::vector<ProcessId> WaitForPrograms(const std::vector<ProcessId>& processes,
                                         std::chrono::milliseconds) override {
    std::lock_guard lock(mutex);
    std::vector<ProcessId> left;
    for (ProcessId pid : processes) {
      if (running.count(pid) != 0) left.push_back(pid);
    }
    return left;
  }
  void KillProgram(ProcessId process) override {
    std::lock_guard lock(mutex);
    killed.push_back(process);
    running.erase(process);
  }
  void SetWindowsEnabled(bool enabled) override {
    std::lock_guard lock(mutex);
    enabledStates.push_back(enabled);
  }
  void UpdateClockLabel() override { ++labelUpdates; }
  void ShowStatusWindow(VerifySystem& pass) override {
    if (onPass) onPass(pass);
    const int shown = ++statusShown;
    if (shown == cancelOnPass) pass.Cancel();
    if (shown == stopOnPass && onStop) {
      holdSleeps = true;  // the pass stays in its waiting until the stop reaches it
      onStop();
    }
  }
  void CloseStatusWindow() override { ++statusClosed; }
  void ShowVerifiedMessage() override { ++verifiedMessages; }
  void ShowFailedMessage(const std::string& text) override { failedMessages.push_back(text); }
  bool Sleep(std::uint32_t ms, const std::function<bool()>& stop) override {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (holdSleeps && !stop() && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (stop()) return false;
    sleptMs += ms;
    return true;
  }

  std::mutex mutex;
  std::vector<std::string> started;
  std::set<std::string> unstartable;
  std::set<std::string> ignoresClose;
  std::set<ProcessId> running;
  std::set<ProcessId> stubborn;
  std::vector<std::string> closeRequests;
  std::vector<ProcessId> killed;
  std::vector<bool> enabledStates;
  std::atomic<int> labelUpdates{0};
  std::atomic<int> statusShown{0};
  std::atomic<int> statusClosed{0};
  std::atomic<int> verifiedMessages{0};
  std::vector<std::string> failedMessages;
  std::atomic<std::uint64_t> sleptMs{0};
  std::atomic<bool> holdSleeps{false};
  int cancelOnPass = 0;
  int stopOnPass = 0;
  std::function<void()> onStop;
  std::function<void(VerifySystem&)> onPass;  // as each pass starts, its clock applied
  ProcessId nextPid = 100;
};

class VerifyThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("RQ_RUNTIME_DIR", dir_.Path().c_str(), 1);
    settings_ = dir_ / "torvane.ini";

    engine::MSupportOptions options;
    options.settingsFile = settings_;
    options.timing = std::make_shared<InstantTiming>();
    options.openDriver = [] { return std::make_unique<NoDriver>(); };
    options.northBridgeCandidates = [] { return devices::CandidateList<devices::PciMchIo>{}; };
    options.clockGeneratorCandidates = [this](const std::string&) {
      devices::CandidateList<devices::I2cClockGenIo> list;
      list.emplace_back([this] { return std::make_unique<FakeClockGenerator>(&writes_); });
      return list;
    };
    support_ = std::make_unique<engine::MSupport>(options);
    ASSERT_NE(support_->clockGenerator, nullptr);
    writes_.clear();
  }

  void TearDown() override { support_.reset(); }

  // Steps the board to `mhz` as the overclock window's buttons would.
  void StepTo(double mhz) {
    support_->ChangeFsb(mhz, true);
    support_->RefreshClocks();
    writes_.clear();
  }

  std::string SafeFreq() const {
    return platform::GetPrivateProfileString("Overclock", "SafeFreq", "", settings_);
  }

  void RunToEnd(Verification& verification) {
    while (verification.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  test::TempDir dir_;
  std::string settings_;
  std::vector<double> writes_;
  FakeEnvironment env_;
  std::unique_ptr<engine::MSupport> support_;
};

TEST_F(VerifyThreadsTest, SinglePassAppliesTheClockAfreshRunsTheProgramsAndStoresIt) {
  StepTo(140);
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);

  EXPECT_THAT(writes_, ElementsAre(133.3, 140));
  EXPECT_THAT(env_.started, ElementsAre("Loomfield", "Pallwick", "Graniton"));
  EXPECT_THAT(env_.closeRequests,
              ElementsAre("Testing Program", "DirectDraw Testing Program", "DShow Testing"));
  EXPECT_TRUE(env_.killed.empty());
  EXPECT_EQ(env_.sleptMs, 4000u + 10 * 1000u);
  EXPECT_EQ(env_.statusShown, 1);
  EXPECT_EQ(env_.statusClosed, 1);
  EXPECT_EQ(SafeFreq(), "140");
  EXPECT_EQ(env_.verifiedMessages, 1);
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true));
  EXPECT_FALSE(support_->GetInWatch()) << "the pass ends with the watchdog stopped";
}

TEST_F(VerifyThreadsTest, SinglePassBelowTheDefaultReportsSuccessButStoresNothing) {
  StepTo(130);
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);
  EXPECT_EQ(env_.verifiedMessages, 1);
  EXPECT_EQ(SafeFreq(), "");
}

TEST_F(VerifyThreadsTest, CancelEndsTheWaitingAtOnceAndStoresNothing) {
  StepTo(140);
  env_.cancelOnPass = 1;
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);
  EXPECT_EQ(env_.sleptMs, 4000u) << "the ten one-second waits stop as soon as Cancel is seen";
  EXPECT_EQ(env_.closeRequests.size(), 3u);
  EXPECT_EQ(env_.statusClosed, 1);
  EXPECT_EQ(env_.verifiedMessages, 0);
  EXPECT_EQ(SafeFreq(), "");
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true));
}

// A settings file that cannot take InWatch = 1: the clock under test is never
// programmed, no pass runs and nothing counts as proven.
TEST_F(VerifyThreadsTest, AClockThatCannotBeWatchedRunsNoPassAndStoresNothing) {
  StepTo(140);
  support_->WatchdogThread()->WaitFor();
  std::filesystem::remove(settings_);
  std::filesystem::create_directory(settings_);  // no file can be written there now
  int boxes = 0;
  platform::SetMessageBoxHandler([&](const std::string&, const std::string&, unsigned) {
    ++boxes;
    return platform::kIdOk;
  });
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);
  ASSERT_TRUE(verification.StartAuto());
  RunToEnd(verification);
  platform::SetMessageBoxHandler({});

  EXPECT_TRUE(writes_.empty()) << "no clock was programmed";
  EXPECT_TRUE(env_.started.empty());
  EXPECT_EQ(env_.verifiedMessages, 0);
  EXPECT_EQ(support_->fsbClock, 140) << "the search ends at the clock it started from";
  EXPECT_EQ(boxes, 1);
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true, false, true));
}

TEST_F(VerifyThreadsTest, AProgramThatCannotStartIsMissingFromThePass) {
  env_.unstartable = {"Pallwick"};
  StepTo(140);
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);
  EXPECT_EQ(env_.started.size(), 3u);
  EXPECT_EQ(SafeFreq(), "140");
}

TEST_F(VerifyThreadsTest, AProgramThatIgnoresItsCloseRequestIsEndedAfterTheGraceTime) {
  env_.ignoresClose = {"Graniton"};
  StepTo(140);
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  RunToEnd(verification);
  EXPECT_THAT(env_.killed, ElementsAre(102));
  EXPECT_EQ(env_.closeRequests.size(), 3u * VerifySystem::kCloseGraceSeconds)
      << "the close request is repeated once a second during the grace time";
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true)) << "the windows come back";
}

TEST(AutoVerifyStep, TwoMegahertzStepsForTheFirstTenAboveTheDefaultThenOne) {
  EXPECT_DOUBLE_EQ(AutoVerifyThread::NextClock(133.3, 133.3), 135.3);
  EXPECT_DOUBLE_EQ(AutoVerifyThread::NextClock(143.2, 133.3), 145.2);
  EXPECT_DOUBLE_EQ(AutoVerifyThread::NextClock(143.3, 133.3), 144.3);
  EXPECT_DOUBLE_EQ(AutoVerifyThread::NextClock(150, 133.3), 151);
}

TEST_F(VerifyThreadsTest, AutomaticSearchStoresEachSurvivingClockAndReturnsToTheLastGoodOnCancel) {
  env_.cancelOnPass = 3;
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartAuto());
  RunToEnd(verification);

  // Each pass sets the step, then applies default and step afresh; the cancel
  // returns to the last clock that survived.
  EXPECT_THAT(writes_, ElementsAre(135.3, 133.3, 135.3, 137.3, 133.3, 137.3, 139.3, 133.3, 139.3, 137.3));
  EXPECT_EQ(SafeFreq(), "137.3");
  EXPECT_DOUBLE_EQ(support_->fsbClock, 137.3);
  EXPECT_EQ(env_.statusShown, 3);
  EXPECT_GE(env_.labelUpdates, 4);
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true));
}

TEST_F(VerifyThreadsTest, StoppingTheSearchWhileThePassRunsEndsItWithoutDeadlock) {
  Verification verification(*support_, env_);
  env_.stopOnPass = 2;
  env_.onStop = [&] { std::thread([&] { verification.Stop(); }).detach(); };
  ASSERT_TRUE(verification.StartAuto());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (env_.statusShown < 2 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  while (verification.Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_FALSE(verification.Running());
  EXPECT_EQ(SafeFreq(), "135.3") << "only the pass that finished is stored";
  EXPECT_DOUBLE_EQ(support_->fsbClock, 135.3) << "back at the last good clock";
}

TEST_F(VerifyThreadsTest, OnlyOneVerificationRunsAtATime) {
  env_.holdSleeps = true;  // the first pass waits inside until released
  Verification verification(*support_, env_);
  ASSERT_TRUE(verification.StartSingle());
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  auto windowsDisabled = [this] {
    std::lock_guard lock(env_.mutex);
    return !env_.enabledStates.empty();
  };
  while (!windowsDisabled() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(windowsDisabled()) << "the first pass never started";
  // Should a second run be let in, replacing the first waits for it to end: let go of
  // the held pass after a while so that the failure shows instead of a hang.
  std::jthread release([this](std::stop_token stop) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    env_.holdSleeps = false;
  });
  // Asserted: a wrongly started run must not be left going once the test has failed.
  ASSERT_FALSE(verification.StartSingle());
  ASSERT_FALSE(verification.StartAuto());
  EXPECT_TRUE(verification.Running());
  release.request_stop();
  release.join();
  RunToEnd(verification);
  EXPECT_EQ(env_.statusShown, 1) << "a second pass ran";
  EXPECT_THAT(env_.enabledStates, ElementsAre(false, true));
  // Once it has ended, the next one is accepted.
  env_.cancelOnPass = 2;
  EXPECT_TRUE(verification.StartSingle());
  RunToEnd(verification);
}

// The automatic search on the default virtual board (ATXP3; stable to 148 MHz at its
// own 1.525 V, 4 MHz more per 100 mV, so 153 MHz at the raised 1.65 V): a pass whose
// clock hangs the board is the last one, as on a machine that froze, and the search
// ends at the clock stored before it.
TEST_F(VerifyThreadsTest, AutomaticSearchWithRaisedVoltagesStoresAHigherClock) {
  support_.reset();
  hw::VirtualSmbusClock smbusClock;  // the hung board's SMBus time-outs cost no real time
  hw::ScopedSmbusClock useVirtualClock(smbusClock);
  auto storedAfterSearch = [this](const char* voltShift) {
    std::filesystem::remove(settings_);
    platform::WritePrivateProfileString("Overclock", "VoltShift", voltShift, settings_);
    sim::ManualTimeSource time;
    std::unique_ptr<sim::Board> board = sim::Board::Shipped("default", time);
    hw::ProcessSmbusHost() = {};  // the host found on the last board
    engine::MSupportOptions options;
    options.settingsFile = settings_;
    options.timing = std::make_shared<InstantTiming>();
    options.openDriver = [&board] { return std::make_unique<driver::InProcessDriverHandle>(*board); };
    engine::MSupport system(options);
    EXPECT_NE(system.overclockController, nullptr);
    FakeEnvironment env;
    env.onPass = [&board](VerifySystem& pass) {
      auto lock = board->Lock();
      if (board->Hung()) pass.Cancel();
    };
    Verification verification(system, env);
    EXPECT_TRUE(verification.StartAuto());
    RunToEnd(verification);
    return SafeFreq();
  };
  // The last clock below each limit that the PLL makes (in about 1.1 MHz steps here).
  const std::string normal = storedAfterSearch("0");
  const std::string raised = storedAfterSearch("1");
  EXPECT_EQ(normal, "147.5");
  EXPECT_EQ(raised, "151.9");
}

}  // namespace
}  // namespace rq::verify
