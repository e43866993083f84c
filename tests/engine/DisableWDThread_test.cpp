#include "engine/DisableWDThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "EngineFakes.h"

namespace rq::engine {
namespace {

using testing::ClockGenState;
using testing::FakeClockGen;
using testing::FakeTiming;
using Mark = DisableWDThread::Mark;

class WatchdogThreadTest : public ::testing::Test {
 protected:
  std::unique_ptr<DisableWDThread> StartThread(bool autoDisarm) {
    auto thread = std::make_unique<DisableWDThread>(
        &chip_,
        [this](bool on) {
          marks_.push_back(on);
          return Mark::Set;
        },
        timing_);
    thread->SetAutoDisarm(autoDisarm);
    thread->Start();
    EXPECT_TRUE(thread->WaitUntilArmed());
    return thread;
  }

  std::shared_ptr<ClockGenState> state_ = std::make_shared<ClockGenState>();
  FakeClockGen chip_{state_};
  FakeTiming timing_;
  std::vector<bool> marks_;  // written only by the thread, read after it is armed or ended
};

TEST_F(WatchdogThreadTest, ArmsForFortySecondsAndDisarmsAfterTenQuietSeconds) {
  auto thread = StartThread(true);
  EXPECT_TRUE(thread->Running());
  EXPECT_EQ(state_->Log(), (std::vector<std::string>{"time 40", "wd on"}));
  EXPECT_EQ(marks_, std::vector<bool>{true});

  timing_.AdvanceSeconds(9);
  EXPECT_TRUE(thread->Running());
  EXPECT_TRUE(state_->WatchdogOn());

  timing_.AdvanceOneSecond();
  thread->WaitFor();
  EXPECT_FALSE(thread->Running());
  EXPECT_FALSE(state_->WatchdogOn());
  EXPECT_EQ(marks_, (std::vector<bool>{true, false}));
  EXPECT_EQ(state_->Log().back(), "wd off");
}

TEST_F(WatchdogThreadTest, RearmRestartsTheWatchdogAndTheCount) {
  auto thread = StartThread(true);
  timing_.AdvanceSeconds(6);
  ASSERT_TRUE(thread->Rearm(true));
  EXPECT_EQ(state_->Log(), (std::vector<std::string>{"time 40", "wd on", "wd off", "wd on"}));

  // The pass that took the signal counts as the first of the ten.
  timing_.AdvanceSeconds(8);
  EXPECT_TRUE(thread->Running());
  timing_.AdvanceOneSecond();
  thread->WaitFor();
  EXPECT_EQ(marks_, (std::vector<bool>{true, false}));
}

TEST_F(WatchdogThreadTest, EndlessWatchUntilAChangeWithAutoDisarm) {
  auto thread = StartThread(false);
  timing_.AdvanceSeconds(30);
  EXPECT_TRUE(thread->Running());
  EXPECT_TRUE(state_->WatchdogOn());

  ASSERT_TRUE(thread->Rearm(true));
  timing_.AdvanceSeconds(9);
  thread->WaitFor();
  EXPECT_FALSE(state_->WatchdogOn());
  EXPECT_EQ(marks_, (std::vector<bool>{true, false}));
}

TEST_F(WatchdogThreadTest, StopDisarmsAtOnceWithoutWaitingForTheCount) {
  auto thread = StartThread(false);
  timing_.AdvanceSeconds(2);
  thread->Stop();
  EXPECT_FALSE(thread->Running());
  EXPECT_FALSE(state_->WatchdogOn());
  EXPECT_EQ(marks_, (std::vector<bool>{true, false}));
  // A stopped thread refuses further changes: they need a new thread.
  EXPECT_FALSE(thread->Rearm(true));
}

TEST_F(WatchdogThreadTest, AFinishedThreadRefusesAChange) {
  auto thread = StartThread(true);
  timing_.AdvanceSeconds(10);
  thread->WaitFor();
  EXPECT_FALSE(thread->Rearm(true));
}

TEST_F(WatchdogThreadTest, WithoutAClockGeneratorOnlyTheMarkIsKept) {
  std::vector<bool> marks;
  DisableWDThread thread(
      nullptr,
      [&](bool on) {
        marks.push_back(on);
        return Mark::Set;
      },
      timing_);
  thread.Start();
  ASSERT_TRUE(thread.WaitUntilArmed());
  thread.Stop();
  EXPECT_EQ(marks, (std::vector<bool>{true, false}));
}

TEST_F(WatchdogThreadTest, MarkIsSetAfterArmingAndClearedOnlyAfterDisarming) {
  DisableWDThread thread(
      &chip_,
      [this](bool on) {
        std::lock_guard lock(state_->mutex);
        state_->log.push_back(on ? "mark 1" : "mark 0");
        return Mark::Set;
      },
      timing_);
  thread.Start();
  ASSERT_TRUE(thread.WaitUntilArmed());
  timing_.AdvanceSeconds(10);
  thread.WaitFor();
  EXPECT_EQ(state_->Log(), (std::vector<std::string>{"time 40", "wd on", "mark 1", "wd off", "mark 0"}));
}

TEST_F(WatchdogThreadTest, NeverStartedThreadIsNotArmed) {
  DisableWDThread thread(
      &chip_, [](bool) { return Mark::Set; }, timing_);
  EXPECT_FALSE(thread.WaitUntilArmed());
  EXPECT_FALSE(thread.Rearm(true));
}

}  // namespace
}  // namespace rq::engine
