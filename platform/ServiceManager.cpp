#include "platform/ServiceManager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProfileFile.h"
#include "platform/RuntimeDir.h"

namespace rq::platform {
namespace {

constexpr const char* kRegistryFile = "services.ini";
constexpr const char* kKeyDisplayName = "DisplayName";
constexpr const char* kKeyImagePath = "ImagePath";
// A daemon gets this long to report itself ready (its board loads, its socket listens).
constexpr int kStartTimeoutMs = 10000;
// The ready pipe's write end, as the program sees it.
constexpr int kReadyFd = 3;
// A stopped daemon gets this long to remove its sockets and end.
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kStopPoll = std::chrono::milliseconds(20);

// The processes of this user whose program file is `image`.
std::vector<pid_t> ProcessesRunning(const struct stat& image) {
  std::vector<pid_t> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    struct stat process {
    }, program{};
    if (::stat(entry.path().c_str(), &process) != 0 || process.st_uid != ::geteuid()) continue;
    if (::stat((entry.path() / "exe").c_str(), &program) != 0) continue;  // gone, or a zombie
    if (program.st_dev == image.st_dev && program.st_ino == image.st_ino) found.push_back(std::stoi(name));
  }
  return found;
}

bool WaitUntilGone(const struct stat& image, std::chrono::steady_clock::duration grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (!ProcessesRunning(image).empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kStopPoll);
  }
  return true;
}

bool StopProgram(const std::string& program) {
  struct stat image {};
  if (::stat(program.c_str(), &image) != 0) return true;  // nothing can be running it
  for (const pid_t pid : ProcessesRunning(image)) {
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);  // a stopped daemon must wake to see the request
  }
  if (WaitUntilGone(image, kStopGrace)) return true;
  for (const pid_t pid : ProcessesRunning(image)) ::kill(pid, SIGKILL);
  return WaitUntilGone(image, kStopGrace);
}

bool MayRun(const std::string& program) {
  struct stat info {};
  if (::stat(program.c_str(), &info) != 0) return false;
  const std::string reason = UntrustedProgramReason(info);
  if (reason.empty()) return true;
  std::fprintf(stderr, "rhomboquest: will not run %s: %s\n", program.c_str(), reason.c_str());
  return false;
}

// Starts `program --ready-fd 3` fully detached (own session, re-parented to init
// by a double fork, no descriptor of ours but the pipe) and waits for its byte.
bool StartDetached(const std::string& program) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  const int readEnd = pipeFds[0], writeEnd = pipeFds[1];

  // Everything the children need is prepared before fork: after it only
  // async-signal-safe calls are allowed in a threaded program.
  const std::string readyArg = std::to_string(kReadyFd);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("--ready-fd"),
                             const_cast<char*>(readyArg.c_str()), nullptr};
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(readEnd);
    ::close(writeEnd);
    return false;
  }
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    // dup2 clears close-on-exec on the copy; every other descriptor (the caller's
    // instance lock among them) must not live on in the daemon.
    if (::dup2(writeEnd, kReadyFd) < 0) ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
    }
    ::close_range(kReadyFd + 1, ~0U, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(writeEnd);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  bool ready = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{readEnd, POLLIN, 0};
    const int polled = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    char byte = 0;
    const ssize_t n = ::read(readEnd, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    ready = n == 1;  // 0: the program ended (or never started) without being ready
    break;
  }
  ::close(readEnd);
  return ready;
}

class ProgramService final : public Service {
 public:
  explicit ProgramService(std::string program) : program_(std::move(program)) {}
  bool Start() override { return MayRun(program_) && StartDetached(program_); }
  bool Stop() override { return StopProgram(program_); }

 private:
  std::string program_;
};

class RegistryServiceManager final : public ServiceManager {
 public:
  explicit RegistryServiceManager(std::string registry) : registry_(std::move(registry)) {}

  std::unique_ptr<Service> OpenService(const std::string& name) override {
    if (name.empty()) return nullptr;
    const std::string program = GetPrivateProfileString(name, kKeyImagePath, "", registry_);
    if (program.empty()) return nullptr;
    return std::make_unique<ProgramService>(program);
  }

  CreateServiceResult CreateService(const std::string& name, const std::string& displayName,
                                    const std::string& programPath,
                                    std::unique_ptr<Service>& created) override {
    if (name.empty() || programPath.empty() || name.find_first_of("[]\r\n") != std::string::npos) {
      return CreateServiceResult::Failed;
    }
    if (!GetPrivateProfileString(name, kKeyImagePath, "", registry_).empty()) {
      return CreateServiceResult::AlreadyExists;
    }
    // The program path goes in last: a registration cut short is not a service.
    if (!WritePrivateProfileString(name, kKeyDisplayName, displayName, registry_) ||
        !WritePrivateProfileString(name, kKeyImagePath, programPath, registry_)) {
      return CreateServiceResult::Failed;
    }
    created = std::make_unique<ProgramService>(programPath);
    return CreateServiceResult::Created;
  }

 private:
  std::string registry_;
};

}  // namespace

std::string UntrustedProgramReason(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return "it is not a plain file";
  if (info.st_uid != ::geteuid() && info.st_uid != 0) return "it belongs to another user";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "other users may write to it";
  return {};
}

std::unique_ptr<ServiceManager> ServiceManager::Open() {
  const std::string folder = SystemDirectory();
  if (folder.empty()) return nullptr;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) return nullptr;
  return std::make_unique<RegistryServiceManager>(folder + "/" + kRegistryFile);
}

}  // namespace rq::platform
