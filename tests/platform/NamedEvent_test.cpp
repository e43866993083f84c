#include "platform/NamedEvent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/TestSupport.h"

extern char** environ;

namespace rq::platform {
namespace {

class NamedEventTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  test::ScopedEnv env_{"RQ_RUNTIME_DIR", dir_.Path()};
};

struct ProgramResult {
  int exitCode = -1;
  std::string standardError;
};

ProgramResult RunExitCommand() {
  const std::string program = test::BinDir() + "/rhomboquest-exit";
  const std::string errFile = std::string(::getenv("RQ_RUNTIME_DIR")) + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  ProgramResult result;
  if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.standardError = test::ReadAll(errFile);
  return result;
}

TEST_F(NamedEventTest, AutoResetCollapsesSignalsSentBeforeAWait) {
  auto event = NamedEvent::Create("Ev");
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(event->Wait(0));
  event->Set();
  event->Set();
  EXPECT_TRUE(NamedEvent::SignalByName("Ev"));
  EXPECT_TRUE(event->Wait(0));
  EXPECT_FALSE(event->Wait(0));
  // Far more signals than a pipe holds still leave one pending signal, no error.
  for (int i = 0; i < 100000; ++i) event->Set();
  EXPECT_TRUE(event->Wait(0));
  EXPECT_FALSE(event->Wait(0));
}

TEST_F(NamedEventTest, WaitTimesOut) {
  auto event = NamedEvent::Create("Ev");
  ASSERT_NE(event, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event->Wait(60));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

TEST_F(NamedEventTest, SignalFromAnotherProcessWakesAnEndlessWait) {
  auto event = NamedEvent::Create(kExitEventName);
  ASSERT_NE(event, nullptr);
  auto woken = std::async(std::launch::async, [&] { return event->Wait(); });
  const pid_t child = ::fork();
  if (child == 0) ::_exit(NamedEvent::SignalByName(kExitEventName) ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(woken.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(woken.get());
}

TEST_F(NamedEventTest, NobodyListeningMeansSignalFails) {
  EXPECT_FALSE(NamedEvent::SignalByName("Ev"));
  {
    auto event = NamedEvent::Create("Ev");
    ASSERT_NE(event, nullptr);
  }
  EXPECT_FALSE(NamedEvent::SignalByName("Ev"));
  // A stale signal left from the earlier owner does not fire on the next one.
  auto first = NamedEvent::Create("Ev");
  auto second = NamedEvent::Create("Ev");
  first->Set();
  first.reset();
  second.reset();
  auto fresh = NamedEvent::Create("Ev");
  EXPECT_FALSE(fresh->Wait(0));
  // A plain file in the event's place is neither written to nor mistaken for a listener.
  fresh.reset();
  ::unlink((dir_ / "Ev").c_str());
  test::WriteAll(dir_ / "Ev", "data");
  EXPECT_FALSE(NamedEvent::SignalByName("Ev"));
  EXPECT_EQ(test::ReadAll(dir_ / "Ev"), "data");
  EXPECT_NE(NamedEvent::Create("Ev"), nullptr);
}

TEST_F(NamedEventTest, ExitCommandSignalsARunningInstanceAndComplainsOtherwise) {
  ProgramResult alone = RunExitCommand();
  EXPECT_EQ(alone.exitCode, 1);
  EXPECT_NE(alone.standardError.find("no running Rhomboquest"), std::string::npos) << alone.standardError;

  auto event = NamedEvent::Create(kExitEventName);
  ASSERT_NE(event, nullptr);
  ProgramResult signalled = RunExitCommand();
  EXPECT_EQ(signalled.exitCode, 0);
  EXPECT_EQ(signalled.standardError, "");
  EXPECT_TRUE(event->Wait(0));
}

}  // namespace
}  // namespace rq::platform
