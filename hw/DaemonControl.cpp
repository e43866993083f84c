#include "hw/DaemonControl.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "hw/SocketDriverHandle.h"
#include "protocol/Protocol.h"

namespace rq::hw {
namespace {

constexpr const char* kControlSuffix = ".ctl";
constexpr const char* kDaemonProgramName = "ZQ_I2cIo";
constexpr const char* kPidField = "\"daemonPid\":";
constexpr const char* kArmedField = "\"armed\":true";
constexpr int kBusyTries = 25;
// A daemon that answers nothing within this long is not waited for.
constexpr int kAnswerTimeoutMs = 5000;
constexpr std::size_t kMaxAnswer = 1 << 20;
// A stopped daemon removes its sockets and ends; it gets this long.
constexpr auto kStopWithin = std::chrono::seconds(5);
constexpr auto kStopPoll = std::chrono::milliseconds(20);

bool Exchange(int fd, const std::string& command, std::string& answer) {
  const std::string line = command + "\n";
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return false;
  answer.clear();
  char chunk[4096];
  while (answer.size() < kMaxAnswer) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, kAnswerTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    answer.append(chunk, static_cast<std::size_t>(n));
  }
  return !answer.empty();
}

pid_t DaemonPid(const std::string& answer) {
  const std::size_t at = answer.find(kPidField);
  if (at == std::string::npos) return 0;
  return static_cast<pid_t>(std::atol(answer.c_str() + at + std::strlen(kPidField)));
}

// Gone, or a zombie its parent has not yet reaped: either way its descriptors
// (the daemon's lock among them) are closed.
bool ProcessEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || text.compare(close, 3, ") Z") == 0;
}

// Only a daemon's process is signalled, whatever pid an answer named.
bool RunsTheDaemon(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  return std::getline(comm, name) && name.rfind(kDaemonProgramName, 0) == 0;
}

}  // namespace

std::optional<std::uint64_t> DaemonBuildDigest(DriverHandle& handle) {
  std::uint8_t buffer[protocol::build_request::kLength] = {};
  if (!handle.DeviceIoControl(protocol::kIoctlDaemonBuild, buffer, sizeof buffer)) return std::nullopt;
  return protocol::LoadU64(buffer, protocol::build_request::kDigest);
}

bool AskDaemon(const std::string& socketPath, const std::string& command, std::string& answer) {
  const int fd = ConnectLocalSocket(socketPath + kControlSuffix, SOCK_STREAM);
  if (fd < 0) return false;
  const bool answered = Exchange(fd, command, answer);
  ::close(fd);
  return answered;
}

std::vector<KernelOwnedBlock> ParseKernelOwnedBlocks(const std::string& inspection) {
  std::vector<KernelOwnedBlock> blocks;
  const nlohmann::json state = nlohmann::json::parse(inspection, nullptr, false);
  if (!state.is_object() || !state.contains("ports") || !state["ports"].is_array()) return blocks;
  for (const nlohmann::json& block : state["ports"]) {
    // A block granted all the same (--allow-owned-ports) is served: it names its driver too.
    if (!block.is_object() || block.value("granted", false)) continue;
    const auto text = [&block](const char* key) {
      return block.contains(key) && block[key].is_string() ? block[key].get<std::string>() : std::string();
    };
    const auto port = [&block](const char* key) {
      return block.contains(key) && block[key].is_number_unsigned()
                 ? static_cast<std::uint16_t>(block[key].get<std::uint64_t>() & 0xFFFFu)
                 : std::uint16_t{0};
    };
    if (text("kernelDriver").empty()) continue;
    blocks.push_back({text("what"), port("first"), port("last"), text("kernelDriver")});
  }
  return blocks;
}

std::vector<KernelOwnedBlock> KernelOwnedBlocks(const std::string& socketPath) {
  std::string answer;
  if (socketPath.empty() || !AskDaemon(socketPath, "inspect", answer)) return {};
  return ParseKernelOwnedBlocks(answer);
}

DaemonStop StopDaemon(const std::string& socketPath, std::string& detail, bool onlyWhenIdle) {
  std::string answer;
  if (!AskDaemon(socketPath, "inspect", answer)) {
    detail = "no driver daemon runs at " + socketPath;
    return DaemonStop::NotRunning;
  }
  const pid_t pid = DaemonPid(answer);
  if (pid <= 0) {
    detail = "the driver daemon at " + socketPath + " does not name its process";
    return DaemonStop::Failed;
  }
  const bool armed = answer.find(kArmedField) != std::string::npos;
  // The connection just closed by the caller may still count for a moment.
  for (int tries = 0; tries < kBusyTries; ++tries) {
    if (!AskDaemon(socketPath, onlyWhenIdle ? "stop idle" : "stop", answer)) answer.clear();
    if (answer.find("in use by") == std::string::npos) break;
    std::this_thread::sleep_for(kStopPoll);
  }
  if (answer.find("\"stopping\"") == std::string::npos) {
    if (answer.find("unknown command") == std::string::npos) {
      detail = "the driver daemon (process " + std::to_string(pid) + ") was not stopped: " + answer;
      return DaemonStop::Failed;
    }
    // A build from before the command: its stop signal ends it just as cleanly.
    if (onlyWhenIdle && armed) {
      detail = "the driver daemon (process " + std::to_string(pid) + ") has its watchdog armed";
      return DaemonStop::Failed;
    }
    if (!RunsTheDaemon(pid) || ::kill(pid, SIGTERM) != 0) {
      detail = "cannot signal the driver daemon (process " + std::to_string(pid) + ")";
      return DaemonStop::Failed;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + kStopWithin;
  while (!ProcessEnded(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      detail = "the driver daemon (process " + std::to_string(pid) + ") did not end within " +
               std::to_string(kStopWithin.count()) + " s";
      return DaemonStop::Failed;
    }
    std::this_thread::sleep_for(kStopPoll);
  }
  detail = "stopped the driver daemon (process " + std::to_string(pid) + ")";
  return DaemonStop::Stopped;
}

}  // namespace rq::hw
