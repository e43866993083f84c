#pragma once
// The driver daemon as a child of a test or benchmark; the one helper that starts
// a daemon and waits for it.
//
//   rq::test::TempDir dir;
//   rq::test::DaemonProcess daemon(dir / "run/ZQ_I2cIo.sock", {"--board", "via-kt600"});
//   ASSERT_TRUE(daemon.Ready());       // it listens; false when it did not start
//   auto state = daemon.Inspect();     // `ZQ_I2cIo inspect --json` on its socket
//   int code = daemon.Stop();          // SIGTERM, then its exit code (-1: killed)
//
// The daemon runs in the foreground with `--foreground --socket <socket>
// --ready-fd <fd>` followed by the extra arguments, and is ready when it writes
// its byte to that descriptor (at most kReadyWithin). The destructor stops it.
// The program is BinDir()/ZQ_I2cIo unless another is named. The daemon inherits
// the environment, so RQ_RUNTIME_DIR, RQ_TRACE and the like set beforehand reach it;
// `errorFile`, when named, receives its standard error.
#include <sys/types.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rq::test {

// The folder of the built programs: $RQ_BIN_DIR (CTest sets it), else the folder
// of the running program.
std::string BinDir();
// The daemon built beside the tests.
std::string DaemonProgram();

// Runs `command` through the shell; its exit code (-1 when it did not exit), with
// its standard output and error in `output`.
int RunCommand(const std::string& command, std::string& output);

class DaemonProcess {
 public:
  static constexpr std::chrono::seconds kReadyWithin{10};

  struct Options {
    std::vector<std::string> arguments;  // after the socket and ready descriptor
    std::string program = DaemonProgram();
    std::string errorFile;  // empty: the test's own standard error
  };

  DaemonProcess(const std::string& socket, Options options);
  explicit DaemonProcess(const std::string& socket, std::vector<std::string> arguments = {});
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  bool Ready() const { return ready_; }
  pid_t Pid() const { return pid_; }
  const std::string& Socket() const { return socket_; }
  // The board's state as `inspect --json` prints it; a discarded value (is_discarded())
  // when the daemon does not answer.
  nlohmann::json Inspect() const;
  // Ends the daemon with SIGTERM and waits; its exit code, -1 when a signal ended
  // it or it was not running.
  int Stop();

 private:
  std::string socket_;
  std::string program_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace rq::test
