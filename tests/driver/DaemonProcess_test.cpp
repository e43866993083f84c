// The daemon as users run it: the real program, over its sockets.
#include "support/DaemonProcess.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "hw/DaemonControl.h"
#include "hw/DriverSetup.h"
#include "hw/IOInterface.h"
#include "hw/SocketDriverHandle.h"
#include "platform/FileDigest.h"
#include "protocol/Protocol.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

namespace fs = std::filesystem;
using test::DaemonProgram;
using test::RunCommand;
using test::TempDir;

class DaemonProcess : public ::testing::Test {
 protected:
  TempDir dir;
  std::string socket = dir / "run/ZQ_I2cIo.sock";
};

TEST_F(DaemonProcess, ServesEveryRequestKindFromTheDefaultBoard) {
  test::DaemonProcess daemon(socket);
  ASSERT_TRUE(daemon.Ready());
  auto handle = hw::SocketDriverHandle::Connect(socket);
  ASSERT_NE(handle, nullptr);
  hw::ScopedDriverHandle scope(handle.get());
  hw::IOInterface io;

  EXPECT_EQ(io.ReadPciConfigWord(0, 0, 0, 0), 0x8086);
  EXPECT_EQ(io.ReadPciConfigWord(0, 9, 0, 0), 0xFFFF);  // nobody there
  std::uint8_t bios[200] = {};
  ASSERT_TRUE(io.ReadPhysicalMemory(0xFE0C1, bios, sizeof bios));
  std::string output;
  ASSERT_EQ(RunCommand(DaemonProgram() + " inspect --json --socket " + socket, output), 0) << output;
  const auto state = nlohmann::json::parse(output);
  EXPECT_EQ(reinterpret_cast<const char*>(bios), state["bios"].get<std::string>());
  EXPECT_EQ(state["profile"], "default");
  EXPECT_FALSE(state["hung"].get<bool>());

  std::uint32_t value = 0;
  ASSERT_TRUE(io.ReadPortByte(0x80, value));  // unclaimed: the bus floats high
  EXPECT_EQ(value, 0xFFu);
  EXPECT_TRUE(io.WritePortByte(0x80, 0x12));
  EXPECT_TRUE(io.WriteIndexedByte({0x2E, 0x2F}, 0x07, 0x0B));
  EXPECT_TRUE(io.ReadIndexedByte({0x2E, 0x2F}, 0x20, value));
  std::uint64_t first = 0, second = 0;
  ASSERT_TRUE(io.ReadTimeStampCounter(first));
  ::usleep(2000);
  ASSERT_TRUE(io.ReadTimeStampCounter(second));
  EXPECT_GT(second, first);
  std::uint8_t low[8] = {};
  EXPECT_FALSE(io.ReadPhysicalMemory(0x1000, low, sizeof low));

  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_FALSE(io.ReadPortByte(0x80, value));  // gone: requests fail, this process lives on
  EXPECT_FALSE(fs::exists(socket));
}

TEST_F(DaemonProcess, SocketsArePrivateAndASecondDaemonIsRefused) {
  test::DaemonProcess daemon(socket);
  ASSERT_TRUE(daemon.Ready());
  struct stat info {};
  ASSERT_EQ(::stat(socket.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((socket + ".ctl").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir / "run").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  std::string output;
  EXPECT_NE(RunCommand(DaemonProgram() + " --foreground --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::HasSubstr("already"));
}

TEST_F(DaemonProcess, InspectForPeopleAndWithoutADaemon) {
  test::DaemonProcess daemon(socket, {"--board", "via-kt400"});
  ASSERT_TRUE(daemon.Ready());
  std::string output;
  ASSERT_EQ(RunCommand(DaemonProgram() + " inspect --socket " + socket, output), 0) << output;
  EXPECT_THAT(output, ::testing::HasSubstr("Board:     via-kt400"));
  EXPECT_THAT(output, ::testing::HasSubstr("Watchdog:  off"));
  daemon.Stop();
  EXPECT_NE(RunCommand(DaemonProgram() + " inspect --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::HasSubstr("no daemon"));
}

TEST_F(DaemonProcess, BadBoardsAndOptionsEndWithAClearMessage) {
  std::string output;
  EXPECT_EQ(
      RunCommand(DaemonProgram() + " --foreground --socket " + socket + " --board no-such-board", output), 1);
  EXPECT_THAT(output, ::testing::HasSubstr("shipped boards: "));
  EXPECT_THAT(output, ::testing::HasSubstr(" default,"));
  EXPECT_EQ(RunCommand("RQ_BOARD=also-not " + DaemonProgram() + " --foreground --socket " + socket, output),
            1);
  EXPECT_THAT(output, ::testing::HasSubstr("also-not"));
  EXPECT_EQ(RunCommand(DaemonProgram() + " --frobnicate", output), 2);
  EXPECT_THAT(output, ::testing::HasSubstr("usage"));
  EXPECT_EQ(RunCommand(DaemonProgram() + " --foreground --socket " + socket + " --ready-fd 77", output), 2);
  std::ofstream(dir / "broken.toml") << "this is = = not toml";
  EXPECT_EQ(
      RunCommand(DaemonProgram() + " --foreground --socket " + socket + " --board " + (dir / "broken.toml"),
                 output),
      1);
}

TEST_F(DaemonProcess, RealHardwareIsRefusedPlainlyOnThisMachine) {
  std::string output;
  EXPECT_NE(RunCommand(DaemonProgram() + " --foreground --real-hardware --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::AnyOf(::testing::HasSubstr("root"), ::testing::HasSubstr("port")));
}

TEST_F(DaemonProcess, DetachesAndReturnsOnceListening) {
  std::string output;
  ASSERT_EQ(RunCommand(DaemonProgram() + " --socket " + socket, output), 0) << output;
  ASSERT_EQ(RunCommand(DaemonProgram() + " inspect --json --socket " + socket, output), 0) << output;
  const pid_t pid = nlohmann::json::parse(output)["daemonPid"].get<pid_t>();
  EXPECT_NE(::getsid(pid), ::getsid(0));
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200 && fs::exists(socket); ++i) ::usleep(10000);
  EXPECT_FALSE(fs::exists(socket));
}

// The whole start-up path of the program (no daemon, no service, the program in the
// current folder); then another build of it replaces the running daemon on connecting.
TEST_F(DaemonProcess, DriverSetUpInstallsStartsAndReplacesADaemonOfAnotherBuild) {
  const std::string runtime = dir / "rt", system = dir / "sys", current = dir / "cwd";
  const std::string daemonFile = current + "/ZQ_I2cIo", sock = runtime + "/ZQ_I2cIo.sock";
  fs::create_directories(current);
  fs::copy_file(DaemonProgram(), daemonFile);
  hw::DriverSetupEnvironment environment;
  environment.openDevice = [&]() -> std::unique_ptr<hw::DriverHandle> {
    return hw::SocketDriverHandle::Connect(sock);
  };
  ::setenv("RQ_SYSTEM_DIR", system.c_str(), 1);
  ::setenv("RQ_RUNTIME_DIR", runtime.c_str(), 1);
  environment.openServiceManager = [] { return platform::ServiceManager::Open(); };
  environment.systemDirectory = system;
  environment.currentDirectory = current;
  environment.stopDaemon = [&] {
    std::string detail;
    return hw::StopDaemon(sock, detail, true) == hw::DaemonStop::Stopped;
  };
  const auto daemonPid = [&] {
    std::string output;
    EXPECT_EQ(RunCommand(DaemonProgram() + " inspect --json --socket " + sock, output), 0) << output;
    return nlohmann::json::parse(output)["daemonPid"].get<pid_t>();
  };

  auto handle = hw::SetUpDriver(environment);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(fs::exists(system + "/drivers/ZQ_I2cIo"));
  {
    hw::ScopedDriverHandle scope(handle.get());
    EXPECT_EQ(hw::IOInterface().ReadPciConfigWord(0, 0, 0, 0), 0x8086);
  }
  EXPECT_EQ(hw::DaemonBuildDigest(*handle), platform::FileDigest(daemonFile));
  const pid_t first = daemonPid();
  handle = hw::SetUpDriver(environment);  // the same build: used as it is
  EXPECT_EQ(daemonPid(), first);

  handle.reset();
  std::ofstream(daemonFile, std::ios::app) << "another build";
  handle = hw::SetUpDriver(environment);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(hw::DaemonBuildDigest(*handle), platform::FileDigest(daemonFile));
  EXPECT_NE(daemonPid(), first);  // the old one ended: the new one could take its lock

  std::string detail;
  EXPECT_EQ(hw::StopDaemon(sock, detail), hw::DaemonStop::Stopped) << detail;
  ::unsetenv("RQ_SYSTEM_DIR");
  ::unsetenv("RQ_RUNTIME_DIR");
}

// A descriptor the daemon's starter left open (no close-on-exec) must not live on in it.
TEST_F(DaemonProcess, ClosesEveryInheritedDescriptorButItsOwn) {
  const std::string held = dir / "held.lock";
  const int inherited = ::open(held.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(inherited, 0);
  test::DaemonProcess daemon(socket);
  ::close(inherited);
  ASSERT_TRUE(daemon.Ready());
  std::vector<std::string> open;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(daemon.Pid()) + "/fd"))
    open.push_back(fs::read_symlink(entry.path(), error).string());
  EXPECT_THAT(open, ::testing::Not(::testing::Contains(held)));
  EXPECT_THAT(open, ::testing::Contains(::testing::HasSubstr("socket:")));
}

}  // namespace
}  // namespace rq::driver
