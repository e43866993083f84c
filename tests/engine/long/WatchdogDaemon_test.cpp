// A hang and its recovery on the virtual board behind the real daemon, in real time:
// the clock generator's watchdog really has to run out and reset the machine.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/EngineFakes.h"
#include "engine/MSupport.h"
#include "hw/SocketDriverHandle.h"
#include "support/DaemonProcess.h"

namespace rq::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class WatchdogDaemonTest : public ::testing::Test {
 protected:
  MSupportOptions Options() const {
    MSupportOptions options;
    options.settingsFile = settings_.File();
    options.openDriver = [socket = socket_]() -> std::unique_ptr<hw::DriverHandle> {
      return hw::SocketDriverHandle::Connect(socket);
    };
    return options;
  }

  testing::SettingsFolder settings_;  // also points the runtime folder at a private place
  std::string socket_ = fs::path(settings_.File()).parent_path() / "ZQ_I2cIo.sock";
};

TEST_F(WatchdogDaemonTest, HangIsResetByTheWatchdogAndTheNextStartRunsAtTheSafeClockLessThree) {
  // The daemon is a child of the test, so the test process is one of its ancestors,
  // which the daemon spares when the machine resets; the "program" that must die
  // with the machine runs in a separate child.
  test::DaemonProcess daemon(socket_, {"--board", "default"});
  ASSERT_TRUE(daemon.Ready());
  const double stableLimit = daemon.Inspect()["maxStableFsbMhz"].get<double>();

  // The program of the machine: verifies a clock below the limit, then steps past it.
  const pid_t program = ::fork();
  if (program == 0) {
    MSupport support(Options());
    if (support.clockGenerator == nullptr) ::_exit(3);
    support.ChangeFsb(stableLimit - 3, true);
    support.RefreshClocks();
    support.SaveSafeFreq();
    support.ChangeFsb(stableLimit + 4, true);  // the machine stops here
    ::_exit(4);                                // only if it did not
  }
  ASSERT_GT(program, 0);

  // The watchdog fires 40 s after its last arming and takes the program down.
  const auto start = std::chrono::steady_clock::now();
  nlohmann::json state;
  bool hungSeen = false;
  for (;;) {
    state = daemon.Inspect();
    if (state.is_object() && state.value("hung", false)) hungSeen = true;
    if (state.is_object() && state.value("resetCount", 0) >= 1) break;
    ASSERT_LT(std::chrono::steady_clock::now() - start, 90s) << "no watchdog reset";
    std::this_thread::sleep_for(250ms);
  }
  const double secondsToReset =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(hungSeen);
  EXPECT_GE(secondsToReset, 35.0);
  EXPECT_FALSE(state["hung"].get<bool>());
  int status = 0;
  ASSERT_EQ(::waitpid(program, &status, 0), program);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

  // What the machine left on disk: the mark, and the clock verified before.
  ASSERT_EQ(settings_.Read("InWatch"), "1");
  const double safe = std::stod(settings_.Read("SafeFreq"));
  EXPECT_NEAR(safe, stableLimit - 3, 0.5);

  {
    MSupport support(Options());
    ASSERT_NE(support.clockGenerator, nullptr);
    const double expected = safe - 3 > support.hwDefaultClock ? safe - 3 : support.hwDefaultClock.load();
    EXPECT_NEAR(support.fsbClock, expected, 0.5);
    state = daemon.Inspect();
    EXPECT_FALSE(state["hung"].get<bool>());
    EXPECT_NEAR(state["fsbMhz"].get<double>(), support.fsbClock, 0.05);
    EXPECT_TRUE(state["watchdog"]["armed"].get<bool>());
  }
  // A clean end disarms and clears the mark; the board keeps running the safe clock.
  state = daemon.Inspect();
  EXPECT_FALSE(state["watchdog"]["armed"].get<bool>());
  EXPECT_EQ(state["resetCount"].get<int>(), 1);
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

}  // namespace
}  // namespace rq::engine
