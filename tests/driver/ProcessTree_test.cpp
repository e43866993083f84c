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

// A /proc entry: `stat` up to the parent, then the fields up to the start time.
void FakeProcess(const TempDir& proc, pid_t pid, const std::string& stat, const std::string& start = "7",
                 const std::string& uids = "1000\t1000\t1000\t1000") {
  const auto folder = std::filesystem::path(proc.Path()) / std::to_string(pid);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "stat") << stat << " 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 " << start
                                 << " 9 2\n";
  std::ofstream(folder / "status") << "Name:\tx\nUmask:\t0022\nUid:\t" << uids
                                   << "\nGid:\t100\t100\t100\t100\n";
}

ClientProcess Pinned(pid_t pid, uid_t uid = ::getuid()) { return {PidfdOf(pid), pid, uid}; }

TEST(ProcessTree, ParsesParentsEvenWithAwkwardProgramNames) {
  TempDir proc;
  FakeProcess(proc, 10, "10 (init) S 1");
  FakeProcess(proc, 11, "11 (we ird) S 10");
  FakeProcess(proc, 12, "12 (a) b) (c) R 11");
  FakeProcess(proc, 13, "garbage");
  std::filesystem::create_directories(proc / "self");
  const auto parents = ReadParents(proc.Path());
  EXPECT_EQ(parents.size(), 3u);
  EXPECT_EQ(parents.at(11), 10);
  EXPECT_EQ(parents.at(12), 11);
}

// An id is taken for the process seen earlier only with the same start time and
// one owner throughout: a recycled id or a set-user-id program is someone else.
TEST(ProcessTree, SameProcessNeedsTheStartTimeAndTheSoleOwner) {
  TempDir proc;
  FakeProcess(proc, 40, "40 (client) S 1", "5000");
  FakeProcess(proc, 41, "41 (su) S 40", "5003", "1000\t0\t0\t0");
  struct Case {
    pid_t pid;
    unsigned long long start;
    uid_t uid;
    bool same;
  };
  const Case cases[] = {
      {40, 5000, 1000, true},  {40, 5001, 1000, false}, {40, 500, 1000, false},  {40, 5000, 1001, false},
      {41, 5003, 1000, false}, {41, 5003, 0, false},    {42, 5000, 1000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSameProcess(c.pid, c.start, c.uid, proc.Path()), c.same)
        << c.pid << " " << c.start << " " << c.uid;
  }
  EXPECT_EQ(ReadProcesses(proc.Path()).at(40).startTime, 5000u);
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

  std::vector<ClientProcess> clients;
  clients.push_back(Pinned(child));
  clients.push_back(Pinned(::getpid()));
  const auto killed = KillProcessTrees(std::move(clients));
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

// A client that exited leaves nothing to signal, even once its id is reused; a
// live client recorded for another user is never signalled.
TEST(ProcessTree, NothingGoneOrOfAnotherUserIsSignalled) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  std::vector<ClientProcess> clients;
  clients.push_back(Pinned(gone));
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const pid_t other = ::fork();
  if (other == 0) {
    ::pause();
    ::_exit(0);
  }
  clients.push_back(Pinned(other, ::getuid() + 1));
  clients.push_back({Fd(), other, ::getuid()});  // never pinned
  EXPECT_TRUE(KillProcessTrees(std::move(clients)).empty());
  int status = 0;
  EXPECT_EQ(::waitpid(other, &status, WNOHANG), 0);  // still running
  ::kill(other, SIGKILL);
  ::waitpid(other, &status, 0);
}

// Without a socket the kernel gives no pidfd, so the peer's id is opened and checked.
TEST(ProcessTree, PinsAPeerByItsIdOnlyWhileItIsThatUsersProcess) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const auto peer = [](pid_t pid, uid_t uid) {
    return PeerCredentials{.pid = pid, .uid = uid, .gid = 0, .groups = {}};
  };

  EXPECT_TRUE(PinPeerProcess(-1, peer(::getpid(), ::getuid())).Valid());
  EXPECT_FALSE(PinPeerProcess(-1, peer(::getpid(), ::getuid() + 1)).Valid());
  EXPECT_FALSE(PinPeerProcess(-1, peer(gone, ::getuid())).Valid());
}

}  // namespace
}  // namespace rq::driver
