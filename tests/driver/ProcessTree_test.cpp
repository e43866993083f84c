#include "driver/ProcessTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/TempDir.h"

namespace rq::driver {
namespace {

using test::TempDir;
using ::testing::UnorderedElementsAre;

void FakeProcess(const TempDir& proc, pid_t pid, const std::string& stat) {
  const auto folder = std::filesystem::path(proc.Path()) / std::to_string(pid);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "stat") << stat << "\n";
}

TEST(ProcessTree, ParsesParentsEvenWithAwkwardProgramNames) {
  TempDir proc;
  FakeProcess(proc, 10, "10 (init) S 1 10 10 0");
  FakeProcess(proc, 11, "11 (we ird) S 10 11 11 0");
  FakeProcess(proc, 12, "12 (a) b) (c) R 11 12 12 0");
  FakeProcess(proc, 13, "garbage");
  std::filesystem::create_directories(proc / "self");
  const auto parents = ReadParents(proc.Path());
  EXPECT_EQ(parents.size(), 3u);
  EXPECT_EQ(parents.at(11), 10);
  EXPECT_EQ(parents.at(12), 11);
}

TEST(ProcessTree, TreesHoldRootsAndAllDescendantsOnly) {
  const std::map<pid_t, pid_t> parents = {{2, 1}, {3, 2}, {4, 3}, {5, 2}, {6, 1}, {7, 6}};
  EXPECT_THAT(TreesOf(parents, {2}), UnorderedElementsAre(2, 3, 4, 5));
  EXPECT_THAT(TreesOf(parents, {4, 7}), UnorderedElementsAre(4, 7));
  EXPECT_TRUE(TreesOf(parents, {}).empty());
}

// A real process tree: a child that starts a grandchild, both sleeping.
TEST(ProcessTree, KillsAClientAndItsDescendantsButNotItself) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::close(fds[0]);
      ::write(fds[1], "g", 1);
      ::pause();
      ::_exit(0);
    }
    ::pause();
    ::_exit(0);
  }
  ::close(fds[1]);
  char byte = 0;
  ASSERT_EQ(::read(fds[0], &byte, 1), 1);  // the grandchild runs
  ::close(fds[0]);
  const auto parents = ReadParents();
  pid_t grandchild = 0;
  for (const auto& [pid, parent] : parents) {
    if (parent == child) grandchild = pid;
  }
  ASSERT_NE(grandchild, 0);

  const auto killed = KillProcessTrees({child, ::getpid()});
  EXPECT_THAT(killed, UnorderedElementsAre(child, grandchild));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  // The grandchild is gone too (re-parented and reaped, or a zombie at most).
  for (int i = 0; i < 100; ++i) {
    std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.find(") Z") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (i == 99) ADD_FAILURE() << "grandchild still alive: " << line;
  }
}

}  // namespace
}  // namespace rq::driver
