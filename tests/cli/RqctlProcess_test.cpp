// rqctl against a real daemon; every case has a bound, past which it is killed and fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "support/DaemonProcess.h"
#include "support/TempDir.h"

namespace rq::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kReplyBound = 2s;  // RQ_TEST_REPLY_TIMEOUT_MS below

struct Ran {
  int code;  // -2: killed at the bound (or by a signal)
  Clock::duration took;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class RqctlProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(run_.c_str(), 0700);
    daemon_ = std::make_unique<DaemonProcess>(run_ + "/ZQ_I2cIo.sock");
    ASSERT_TRUE(daemon_->Ready());
  }
  // Runs rqctl with `words` (FIFO: the test's FIFO); `outFd` (closed here) is its
  // standard output, else a file. `during` runs here meanwhile, given its pid.
  Ran Rqctl(const std::string& words, Clock::duration bound, const std::function<void(pid_t)>& during = {},
            int outFd = -1) {
    std::vector<std::string> args = {BinDir() + "/rqctl", "--settings", dir_ / "torvane.ini"};
    std::istringstream split(words);
    for (std::string word; split >> word;) args.push_back(word == "FIFO" ? dir_ / "fifo" : word);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("RQ_RUNTIME_DIR", run_.c_str(), 1);
      ::setenv("RQ_TEST_REPLY_TIMEOUT_MS", "2000", 1);
      ::dup2(outFd >= 0 ? outFd : ::open((dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      ::dup2(::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (outFd >= 0) ::close(outFd);
    if (during) during(pid);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() - start < bound)
      std::this_thread::sleep_for(20ms);
    if (ended == 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, &status, 0);
    Ran ran{ended == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -2, Clock::now() - start,
            outFd >= 0 ? "" : Slurp(dir_ / "out"), Slurp(dir_ / "err")};
    return ran;
  }

  TempDir dir_;
  std::string run_ = dir_ / "run";
  std::unique_ptr<DaemonProcess> daemon_;
};

enum class Sink { File, FifoUnread, FifoRead, PipeRead, PipeUnread, PipeClosed };
struct OutputCase {
  Sink sink;
  const char* args;  // FIFO stands for the FIFO's path
  int signal;        // sent 1.5 s in (the bound is then 3 s, else 8 s); 0: none
  int code;
  const char* says;  // on standard error
  int lines;         // that reach a reader, header included; -1: not looked at
};

TEST_F(RqctlProcessTest, EveryOutputAndWaitEndsWithinItsBound) {
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<OutputCase> cases = {
      {Sink::FifoUnread, "log FIFO", SIGTERM, 0, "waiting for a reader", -1},
      {Sink::FifoRead, "log --count 2 --interval 0.1 FIFO", 0, 0, "", 3},
      {Sink::PipeRead, "log --count 2 --interval 0.1 /dev/stdout", 0, 0, "", 3},
      {Sink::PipeUnread, "log --interval 0.01", SIGTERM, 0, "", -1},
      {Sink::PipeClosed, "sensors --watch 0.1", 0, 1, "standard output failed: Broken pipe", -1},
      {Sink::File, "log /dev/full", 0, 1, "writing to /dev/full failed: No space left", -1},
      {Sink::File, "log --count 1 /dev/zero", 0, 0, "", -1},
      {Sink::File, "log --interval 1e10", 0, 2, "--interval takes seconds from", -1},
      {Sink::File, "sensors --watch 10000000000", 0, 2, "--watch takes seconds from", -1},
      {Sink::File, "sensors --watch 100", SIGINT, 0, "", -1},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.args);
    int fds[2] = {-1, -1};
    ASSERT_TRUE(c.sink < Sink::PipeRead || ::pipe(fds) == 0);
    if (c.sink == Sink::PipeUnread) ::fcntl(fds[1], F_SETPIPE_SZ, 4096);  // full within a few rows
    if (c.sink == Sink::PipeClosed) ::close(fds[0]);
    std::string read;
    auto during = [&](pid_t pid) {
      if (c.sink == Sink::FifoRead) read = Slurp(fifo);  // until rqctl closes it
      if (c.sink == Sink::PipeRead) read = Slurp("/dev/fd/" + std::to_string(fds[0]));
      if (c.signal == 0) return;
      std::this_thread::sleep_for(1500ms);
      ::kill(pid, c.signal);
    };
    const Ran ran = Rqctl(c.args, c.signal != 0 ? 3s : 8s, during, fds[1]);
    if (c.sink == Sink::PipeRead || c.sink == Sink::PipeUnread) ::close(fds[0]);
    EXPECT_EQ(ran.code, c.code) << ran.err;
    EXPECT_NE(ran.err.find(c.says), std::string::npos) << ran.err;
    if (c.lines >= 0) {
      EXPECT_EQ(std::count(read.begin(), read.end(), '\n'), c.lines) << read;
      EXPECT_EQ(read.rfind("time,", 0), 0u) << read;
    }
  }
}

// Readers of the textfile see one whole text or the next, never a part; a
// replacement that fails (a folder put in its place) ends rqctl, nothing left over.
TEST_F(RqctlProcessTest, TheTextfileIsReplacedWholeAndLeavesNothingBehind) {
  const std::string folder = dir_ / "textfile";
  const std::string file = folder + "/rq.prom";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  int whole = 0, partial = 0;
  std::set<std::pair<time_t, long>> versions;  // change times: an inode number is reused
  const Ran ran = Rqctl("log --interval 0.01 --openmetrics-textfile " + file, 8s, [&](pid_t) {
    for (const auto end = Clock::now() + 2s; Clock::now() < end;) {
      struct stat seen {};
      if (::stat(file.c_str(), &seen) == 0) versions.insert({seen.st_ctim.tv_sec, seen.st_ctim.tv_nsec});
      const std::string text = Slurp(file);
      if (text.empty() && whole == 0) continue;  // not there yet
      const bool complete = text.rfind("# HELP ", 0) == 0 && text.size() > 6 && text.ends_with("\n# EOF\n");
      (complete ? whole : partial)++;
    }
    do ::unlink(file.c_str());
    while (::mkdir(file.c_str(), 0700) != 0);
  });
  EXPECT_EQ(ran.code, 1) << ran.err;
  EXPECT_NE(ran.err.find("rq.prom failed: cannot rename the new text over it"), std::string::npos) << ran.err;
  EXPECT_TRUE(ran.out.empty()) << ran.out;  // rows only where a FILE is named
  EXPECT_GT(whole, 20);
  EXPECT_EQ(partial, 0);
  EXPECT_GT(versions.size(), 5u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

// The daemon stopped (SIGSTOP) at points of a command's work: rqctl ends within the
// reply bound plus a second of the stop, says why, prints no value it did not read,
// and the settings file tells the next start what to recover.
TEST_F(RqctlProcessTest, AStalledDaemonIsAFailureWithinTheReplyBound) {
  struct StallCase {
    std::string args;
    Clock::duration stopAfter;
  } const cases[] = {{"fsb set 140", 300ms},   {"fsb set 140", 1200ms}, {"fsb set 140", 4s},
                     {"status --json", 300ms}, {"dump --json", 300ms},  {"sensors --watch 0.2", 1s}};
  for (const StallCase& c : cases) {
    SCOPED_TRACE(c.args + " stopped after " + std::to_string(c.stopAfter / 1ms) + " ms");
    daemon_.reset();  // a fresh board each time
    SetUp();
    const pid_t daemonPid = daemon_->Pid();
    const Ran ran = Rqctl(c.args, c.stopAfter + kReplyBound + 1s + 500ms, [&](pid_t) {
      std::this_thread::sleep_for(c.stopAfter);
      ::kill(daemonPid, SIGSTOP);
    });
    ::kill(daemonPid, SIGCONT);
    EXPECT_EQ(ran.code, 3) << ran.err;
    EXPECT_LE(ran.took, c.stopAfter + kReplyBound + 1s);
    EXPECT_NE(ran.err.find("stopped answering"), std::string::npos) << ran.err;
    const bool printsNothing = c.args.rfind("fsb", 0) == 0 || c.args.rfind("status", 0) == 0;
    EXPECT_TRUE(!printsNothing || ran.out.empty()) << ran.out;
    EXPECT_EQ(ran.out.find("28.6"), std::string::npos) << ran.out;
    // A changed board is marked for the next start to recover.
    const double fsb = daemon_->Inspect().value("fsbMhz", 0.0);
    const bool marked = Slurp(dir_ / "torvane.ini").find("InWatch=1") != std::string::npos;
    EXPECT_TRUE(marked || std::abs(fsb - 133.3) < 0.2) << fsb << " MHz, InWatch clear: " << ran.err;
  }
}

}  // namespace
}  // namespace rq::test
