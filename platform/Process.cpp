#include "platform/Process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>

#include "platform/BuildInfo.h"

extern char** environ;

namespace rq::platform {
namespace {

constexpr std::uint32_t kForever = 0xFFFFFFFF;
// How often ends are checked for when the kernel gives no process descriptors.
constexpr std::chrono::milliseconds kPollStep{5};
constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string path;
  path.reserve(dir.size() + 1 + name.size());
  path.append(dir).append(1, '/').append(name);
  return path;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string Resolve(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  // Beside the program in the build folder, in the helper folder once installed.
  for (const std::string& own : {ProgramDirectory(), HelperProgramDirectory()}) {
    if (!own.empty() && IsExecutableFile(JoinPath(own, name))) return JoinPath(own, name);
  }
  const char* pathEnv = std::getenv("PATH");
  const std::string searchPath = pathEnv != nullptr ? pathEnv : kDefaultSearchPath;
  std::size_t start = 0;
  for (;;) {
    const auto colon = searchPath.find(':', start);
    std::string_view dir = std::string_view(searchPath)
                               .substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = JoinPath(dir, name);
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd >= 0 ? static_cast<int>(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
}

}  // namespace

std::string ProgramDirectory() {
  std::string buffer(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
  buffer.resize(static_cast<std::size_t>(length));
  const auto slash = buffer.rfind('/');
  return slash == std::string::npos ? std::string() : buffer.substr(0, std::max<std::size_t>(slash, 1));
}

namespace {

std::string BesideProgram(const char* relative) {
  const std::string own = ProgramDirectory();
  if (own.empty()) return {};
  return (std::filesystem::path(own) / relative).lexically_normal().string();
}

}  // namespace

std::string HelperProgramDirectory() { return BesideProgram(kHelperDirFromProgram); }

std::string SharedDataDirectory() { return BesideProgram(kDataDirFromProgram); }

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    const char c = commandLine[i];
    if (c == '\\' && i + 1 < commandLine.size() &&
        (commandLine[i + 1] == '"' || commandLine[i + 1] == '\\')) {
      word += commandLine[++i];
      inWord = true;
    } else if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::unique_ptr<Process> Process::Start(const std::string& commandLine) {
  std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty()) return nullptr;
  const std::string path = Resolve(words.front());
  if (path.empty()) return nullptr;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The child starts with default signal handling and nothing blocked, whatever
  // this thread happens to block or this program ignores (SIGPIPE, say).
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return nullptr;
  return std::unique_ptr<Process>(new Process(pid, OpenPidFd(pid)));
}

Process::~Process() {
  if (!Reap(false)) {
    const pid_t pid = pid_;
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  if (pidFd_ >= 0) ::close(pidFd_);
}

bool Process::Reap(bool block) {
  if (ended_) return true;
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  ended_ = true;  // reaped now, or (ECHILD) by someone else already
  if (got == pid_ && WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
  if (got == pid_ && WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
  return true;
}

bool Process::Ended() { return Reap(false); }

bool Process::Wait(std::uint32_t timeoutMs) { return WaitForProcesses({this}, timeoutMs); }

void Process::Kill() {
  // Safe against a reused pid: an unreaped child keeps its pid.
  if (!ended_) ::kill(pid_, SIGKILL);
}

bool WaitForProcesses(const std::vector<Process*>& processes, std::uint32_t timeoutMs) {
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<pollfd> fds;
    bool allPollable = true;
    for (Process* process : processes) {
      if (process == nullptr || process->Reap(false)) continue;
      if (process->pidFd_ < 0) allPollable = false;
      fds.push_back({process->pidFd_, POLLIN, 0});
    }
    if (fds.empty()) return true;
    long long leftMs = -1;
    if (timeoutMs != kForever) {
      leftMs = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      if (leftMs <= 0) return false;
    }
    if (allPollable) {
      // A process descriptor turns readable when its process ends.
      const int pollMs = leftMs < 0 ? -1 : static_cast<int>(std::min<long long>(leftMs, 1 << 30));
      if (::poll(fds.data(), fds.size(), pollMs) < 0 && errno != EINTR) return false;
    } else {
      const auto step = leftMs < 0 ? kPollStep : std::min(kPollStep, std::chrono::milliseconds(leftMs));
      std::this_thread::sleep_for(step);
    }
  }
}

}  // namespace rq::platform
