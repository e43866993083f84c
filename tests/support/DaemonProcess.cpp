#include "support/DaemonProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace rq::test {
namespace {

// Whether the daemon wrote its ready byte to `fd` in time.
bool WaitForReadyByte(int fd) {
  pollfd ready{fd, POLLIN, 0};
  const int timeout = static_cast<int>(std::chrono::milliseconds(DaemonProcess::kReadyWithin).count());
  char byte = 0;
  return ::poll(&ready, 1, timeout) == 1 && ::read(fd, &byte, 1) == 1;
}

}  // namespace

std::string BinDir() {
  if (const char* dir = std::getenv("RQ_BIN_DIR"); dir != nullptr && *dir != '\0') return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string DaemonProgram() { return BinDir() + "/ZQ_I2cIo"; }

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  // Braced, so that a redirection of the command's own comes before the merge.
  std::FILE* pipe = ::popen(("{ " + command + "; } 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

DaemonProcess::DaemonProcess(const std::string& socket, std::vector<std::string> arguments)
    : DaemonProcess(
          socket, Options{.arguments = std::move(arguments), .program = DaemonProgram(), .errorFile = {}}) {}

DaemonProcess::DaemonProcess(const std::string& socket, Options options)
    : socket_(socket), program_(options.program) {
  int fds[2];
  if (::pipe(fds) != 0) return;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  const int errorFd = options.errorFile.empty()
                          ? -1
                          : ::open(options.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> args = {program_, "--foreground", "--socket",
                                   socket_,  "--ready-fd",   std::to_string(fds[1])};
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Only async-signal-safe calls between fork and exec: the test may run threads.
  pid_ = ::fork();
  if (pid_ == 0) {
    if (errorFd >= 0) ::dup2(errorFd, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (errorFd >= 0) ::close(errorFd);
  ready_ = pid_ > 0 && WaitForReadyByte(fds[0]);
  ::close(fds[0]);
}

DaemonProcess::~DaemonProcess() { Stop(); }

nlohmann::json DaemonProcess::Inspect() const {
  std::string output;
  if (RunCommand(program_ + " inspect --json --socket " + socket_ + " 2>/dev/null", output) != 0) {
    return nlohmann::json::value_t::discarded;
  }
  return nlohmann::json::parse(output, nullptr, false);
}

int DaemonProcess::Stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  const bool reaped = ::waitpid(pid_, &status, 0) == pid_;
  pid_ = -1;
  return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace rq::test
