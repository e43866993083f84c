// The daemon as users run it: the real program, over its sockets.
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

#include "driver/Protocol.h"
#include "driver/TempDir.h"
#include "hw/DriverSetup.h"
#include "hw/IOInterface.h"
#include "hw/SocketDriverHandle.h"

namespace rq::driver {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string BinDir() {
  if (const char* dir = std::getenv("RQ_BIN_DIR")) return dir;
  return fs::read_symlink("/proc/self/exe").parent_path().string();
}
std::string Daemon() { return BinDir() + "/ZQ_I2cIo"; }

// Runs the program; returns its exit status and standard output and error.
int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A daemon in the foreground, stopped with SIGTERM at the end of the test.
class RunningDaemon {
 public:
  explicit RunningDaemon(const std::string& socket, const std::vector<std::string>& extra = {}) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    std::vector<std::string> args = {Daemon(), "--foreground", "--socket",
                                     socket,   "--ready-fd",   std::to_string(fds[1])};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    pollfd pfd{fds[0], POLLIN, 0};
    char byte = 0;
    ready_ = ::poll(&pfd, 1, 10000) == 1 && ::read(fds[0], &byte, 1) == 1;
    ::close(fds[0]);
  }
  ~RunningDaemon() { Stop(); }
  bool Ready() const { return ready_; }
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = 0;
  bool ready_ = false;
};

class DaemonProcess : public ::testing::Test {
 protected:
  TempDir dir;
  std::string socket = dir / "run/ZQ_I2cIo.sock";
};

TEST_F(DaemonProcess, ServesEveryRequestKindFromTheDefaultBoard) {
  RunningDaemon daemon(socket);
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
  ASSERT_EQ(RunCommand(Daemon() + " inspect --json --socket " + socket, output), 0) << output;
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
  RunningDaemon daemon(socket);
  ASSERT_TRUE(daemon.Ready());
  struct stat info {};
  ASSERT_EQ(::stat(socket.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((socket + ".ctl").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir / "run").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  std::string output;
  EXPECT_NE(RunCommand(Daemon() + " --foreground --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::HasSubstr("already"));
}

TEST_F(DaemonProcess, InspectForPeopleAndWithoutADaemon) {
  RunningDaemon daemon(socket, {"--board", "via-kt400"});
  ASSERT_TRUE(daemon.Ready());
  std::string output;
  ASSERT_EQ(RunCommand(Daemon() + " inspect --socket " + socket, output), 0) << output;
  EXPECT_THAT(output, ::testing::HasSubstr("Board:     via-kt400"));
  EXPECT_THAT(output, ::testing::HasSubstr("Watchdog:  off"));
  daemon.Stop();
  EXPECT_NE(RunCommand(Daemon() + " inspect --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::HasSubstr("no daemon"));
}

TEST_F(DaemonProcess, BadBoardsAndOptionsEndWithAClearMessage) {
  std::string output;
  EXPECT_EQ(RunCommand(Daemon() + " --foreground --socket " + socket + " --board no-such-board", output), 1);
  EXPECT_THAT(output, ::testing::HasSubstr("shipped boards: "));
  EXPECT_THAT(output, ::testing::HasSubstr(" default,"));
  EXPECT_EQ(RunCommand("RQ_BOARD=also-not " + Daemon() + " --foreground --socket " + socket, output), 1);
  EXPECT_THAT(output, ::testing::HasSubstr("also-not"));
  EXPECT_EQ(RunCommand(Daemon() + " --frobnicate", output), 2);
  EXPECT_THAT(output, ::testing::HasSubstr("usage"));
  EXPECT_EQ(RunCommand(Daemon() + " --foreground --socket " + socket + " --ready-fd 77", output), 2);
  std::ofstream(dir / "broken.toml") << "this is = = not toml";
  EXPECT_EQ(
      RunCommand(Daemon() + " --foreground --socket " + socket + " --board " + (dir / "broken.toml"), output),
      1);
}

TEST_F(DaemonProcess, RealHardwareIsRefusedPlainlyOnThisMachine) {
  std::string output;
  EXPECT_NE(RunCommand(Daemon() + " --foreground --real-hardware --socket " + socket, output), 0);
  EXPECT_THAT(output, ::testing::AnyOf(::testing::HasSubstr("root"), ::testing::HasSubstr("port")));
}

TEST_F(DaemonProcess, DetachesAndReturnsOnceListening) {
  std::string output;
  ASSERT_EQ(RunCommand(Daemon() + " --socket " + socket, output), 0) << output;
  ASSERT_EQ(RunCommand(Daemon() + " inspect --json --socket " + socket, output), 0) << output;
  const pid_t pid = nlohmann::json::parse(output)["daemonPid"].get<pid_t>();
  EXPECT_NE(::getsid(pid), ::getsid(0));
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200 && fs::exists(socket); ++i) ::usleep(10000);
  EXPECT_FALSE(fs::exists(socket));
}

// The whole start-up path of the program: no daemon running, no service
// registered, the program beside the current folder.
TEST_F(DaemonProcess, DriverSetUpInstallsRegistersAndStartsTheDaemon) {
  const std::string runtime = dir / "rt", system = dir / "sys", current = dir / "cwd";
  fs::create_directories(current);
  fs::copy_file(Daemon(), current + "/ZQ_I2cIo");
  hw::DriverSetupEnvironment environment;
  environment.openDevice = [&]() -> std::unique_ptr<hw::DriverHandle> {
    return hw::SocketDriverHandle::Connect(runtime + "/ZQ_I2cIo.sock");
  };
  ::setenv("RQ_SYSTEM_DIR", system.c_str(), 1);
  ::setenv("RQ_RUNTIME_DIR", runtime.c_str(), 1);
  environment.openServiceManager = [] { return platform::ServiceManager::Open(); };
  environment.systemDirectory = system;
  environment.currentDirectory = current;

  auto handle = hw::SetUpDriver(environment);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(fs::exists(system + "/drivers/ZQ_I2cIo"));
  {
    hw::ScopedDriverHandle scope(handle.get());
    EXPECT_EQ(hw::IOInterface().ReadPciConfigWord(0, 0, 0, 0), 0x8086);
  }
  std::string output;
  ASSERT_EQ(RunCommand(Daemon() + " inspect --json --socket " + runtime + "/ZQ_I2cIo.sock", output), 0)
      << output;
  const pid_t pid = nlohmann::json::parse(output)["daemonPid"].get<pid_t>();
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200 && fs::exists(runtime + "/ZQ_I2cIo.sock"); ++i) ::usleep(10000);
  ::unsetenv("RQ_SYSTEM_DIR");
  ::unsetenv("RQ_RUNTIME_DIR");
}

}  // namespace
}  // namespace rq::driver
