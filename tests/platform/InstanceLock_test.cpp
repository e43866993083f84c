#include "platform/InstanceLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/TestSupport.h"

namespace rq::platform {
namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  test::ScopedEnv env_{"RQ_RUNTIME_DIR", dir_.Path()};
};

// Reports from a fresh process what it found: 0 locked, 1 already taken, 2 failed.
int TryInOtherProcess(const std::string& name) {
  const pid_t child = ::fork();
  if (child == 0) {
    bool exists = false;
    auto lock = InstanceLock::Create(name, exists);
    ::_exit(lock ? 0 : exists ? 1 : 2);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(InstanceLockTest, SecondHolderIsToldItAlreadyExists) {
  bool exists = true;
  auto lock = InstanceLock::Create("Torvane", exists);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(exists);
  EXPECT_EQ(TryInOtherProcess("Torvane"), 1);
  EXPECT_EQ(TryInOtherProcess("Other"), 0);
  // Even within one process a second open is a second instance.
  EXPECT_EQ(InstanceLock::Create("Torvane", exists), nullptr);
  EXPECT_TRUE(exists);
  lock.reset();
  EXPECT_EQ(TryInOtherProcess("Torvane"), 0);
}

TEST_F(InstanceLockTest, LockOfAKilledProcessIsFreed) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    bool exists = false;
    auto lock = InstanceLock::Create("Torvane", exists);
    const char byte = lock ? 'y' : 'n';
    (void)::write(ready[1], &byte, 1);
    for (;;) ::pause();
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  bool exists = false;
  EXPECT_EQ(InstanceLock::Create("Torvane", exists), nullptr);
  EXPECT_TRUE(exists);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  auto lock = InstanceLock::Create("Torvane", exists);
  EXPECT_NE(lock, nullptr);
  EXPECT_FALSE(exists);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(InstanceLockTest, UnusableRuntimeFolderOrNameFailsWithoutClaimingAnInstance) {
  bool exists = true;
  EXPECT_EQ(InstanceLock::Create("a/b", exists), nullptr);
  EXPECT_FALSE(exists);
  test::WriteAll(dir_ / "file", "");
  test::ScopedEnv env("RQ_RUNTIME_DIR", dir_ / "file");
  exists = true;
  EXPECT_EQ(InstanceLock::Create("Torvane", exists), nullptr);
  EXPECT_FALSE(exists);
}

}  // namespace
}  // namespace rq::platform
