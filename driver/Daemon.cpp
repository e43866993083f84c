#include "driver/Daemon.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "driver/ControlServer.h"
#include "driver/DaemonLog.h"
#include "driver/Dispatcher.h"
#include "driver/IdleExit.h"
#include "driver/ProcessTree.h"
#include "driver/RealHardwareBackend.h"
#include "driver/RequestServer.h"
#include "driver/UnixSocket.h"
#include "driver/VirtualBoardBackend.h"
#include "platform/BuildInfo.h"
#include "platform/FileDigest.h"
#include "platform/RuntimeDir.h"
#include "protocol/Protocol.h"
#include "protocol/SocketLocation.h"
#include "sim/Board.h"
#include "sim/monitor/HwmonTree.h"

namespace rq::driver {
namespace {

constexpr const char* kProgram = "ZQ_I2cIo";
constexpr const char* kControlSuffix = ".ctl";
constexpr const char* kLockSuffix = ".lock";
// The watchdog is checked this often; its time-outs are whole seconds.
constexpr std::chrono::milliseconds kTickPeriod{20};
// How often --hwmon-root's files follow the board, as a kernel driver's cache of a
// monitor chip's readings does.
constexpr std::chrono::seconds kHwmonPeriod{1};
constexpr std::size_t kBiosStringRead = 200;

constexpr mode_t kSystemFolderMode = 0755;
constexpr mode_t kSystemGroupFolderMode = 0750;
constexpr std::size_t kGroupBuffer = 16384;

std::string SystemSocketPath() {
  return std::string(protocol::kSystemSocketFolder) + "/" + protocol::kSocketFileName;
}

bool IsSystemDefault(const DaemonOptions& options) {
  return options.socketPath.empty() && ::geteuid() == 0 && !protocol::PrivateRuntimeDirNamed();
}

// --socket, else the system folder for root, else the user's runtime folder.
std::string SocketPath(const DaemonOptions& options) {
  if (!options.socketPath.empty()) return std::filesystem::absolute(options.socketPath).string();
  if (IsSystemDefault(options)) return SystemSocketPath();
  const std::string folder = platform::RuntimeDir();
  if (folder.empty()) return {};
  return folder + "/" + protocol::kSocketFileName;
}

// Inspection looks where the program would: the system daemon when this user may
// use it, else the user's own.
std::string InspectedSocketPath(const DaemonOptions& options) {
  if (options.socketPath.empty() && !protocol::PrivateRuntimeDirNamed() &&
      protocol::ProbeSystemSocket() == protocol::SystemSocket::Usable) {
    return SystemSocketPath();
  }
  return SocketPath(options);
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }
std::string FolderOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

gid_t GroupId(const std::string& name) {
  std::vector<char> buffer(kGroupBuffer);
  group entry{};
  group* found = nullptr;
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    throw std::runtime_error("there is no group '" + name + "' (create it with: groupadd " + name + ")");
  }
  return entry.gr_gid;
}

void Fail(const std::string& message) { LogLine(message); }

// Whatever started the daemon may have left descriptors open without
// close-on-exec (a lock its own parent held); only standard input, output and
// error and the ready descriptor are the daemon's.
void CloseInheritedDescriptors(int keep) {
  const auto closeRange = [](unsigned first, unsigned last) {
    if (first > last || ::close_range(first, last, 0) == 0) return;
    // A kernel without close_range: close what /proc lists.
    std::vector<int> open;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
      while (const dirent* entry = ::readdir(folder)) {
        const long fd = std::strtol(entry->d_name, nullptr, 10);
        if (entry->d_name[0] != '.' && fd != ::dirfd(folder)) open.push_back(static_cast<int>(fd));
      }
      ::closedir(folder);
    }
    for (const int fd : open) {
      if (static_cast<unsigned>(fd) >= first && static_cast<unsigned>(fd) <= last) ::close(fd);
    }
  };
  constexpr unsigned kFirst = STDERR_FILENO + 1;
  constexpr unsigned kLast = ~0U;
  if (keep >= static_cast<int>(kFirst)) {
    closeRange(kFirst, static_cast<unsigned>(keep) - 1);
    closeRange(static_cast<unsigned>(keep) + 1, kLast);
  } else {
    closeRange(kFirst, kLast);
  }
}

// The answer to the build request: the version, and the digest of the program
// file this process runs (read through /proc, so a file replaced since the start
// still tells the old build).
std::vector<std::uint8_t> BuildIdentity() {
  namespace layout = protocol::build_request;
  std::vector<std::uint8_t> identity(layout::kLength, 0);
  const std::string version = platform::kVersion;
  std::copy_n(version.begin(), std::min<std::size_t>(version.size(), layout::kVersionLength - 1),
              identity.begin() + layout::kVersion);
  const std::optional<std::uint64_t> digest = platform::FileDigest("/proc/self/exe");
  if (!digest) return {};  // a build it cannot tell is no build: the request fails
  protocol::StoreU64(identity.data(), layout::kDigest, *digest);
  return identity;
}

void SignalReady(int fd) {
  if (fd < 0) return;
  const char byte = 1;
  ssize_t n;
  do {
    n = ::write(fd, &byte, 1);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
}

// Detaches from the caller: the parent returns only once the daemon listens (or
// failed), so that a shell or script can use the socket right after.
// Returns -1 in the daemon (with `readyPipe` set), or the parent's exit code.
int Detach(Fd& readyPipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    Fail("cannot create a pipe");
    return 1;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    Fail("cannot fork");
    return 1;
  }
  if (child > 0) {
    ::close(fds[1]);
    char byte = 0;
    ssize_t n;
    do {
      n = ::read(fds[0], &byte, 1);
    } while (n < 0 && errno == EINTR);
    ::close(fds[0]);
    return n == 1 ? 0 : 1;
  }
  ::close(fds[0]);
  readyPipe.Reset(fds[1]);
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    if (null > STDERR_FILENO) ::close(null);
  }
  return -1;
}

}  // namespace

nlohmann::json DescribeGrants(const RealHardwareBackend& backend) {
  nlohmann::json ports = nlohmann::json::array();
  for (const RealHardwareBackend::KernelBlock& block : backend.KernelBlocks()) {
    if (block.grantedAnyway) continue;  // listed with the granted ones below
    nlohmann::json entry = {{"what", block.range.what},
                            {"first", block.range.first},
                            {"last", block.range.last},
                            {"kernelDriver", block.driver}};
    if (const std::string adapter = backend.SmbusAdapterPath(block.range.first); !adapter.empty())
      entry["servedThrough"] = adapter;
    ports.push_back(entry);
  }
  for (const PortRange& range : backend.AllowedPorts()) {
    nlohmann::json entry = {
        {"what", range.what}, {"first", range.first}, {"last", range.last}, {"granted", true}};
    for (const auto& block : backend.KernelBlocks())
      if (block.grantedAnyway && block.range.first == range.first) entry["kernelDriver"] = block.driver;
    ports.push_back(entry);
  }
  return ports;
}

std::string DaemonUsage() {
  return "usage: ZQ_I2cIo [--board NAME|FILE.toml] [--socket PATH] [--ready-fd N] [--foreground]\n"
         "                [[--kernel-smbus] [--hwmon-root DIR] | --real-hardware [--allow-owned-ports]]\n"
         "                [--group NAME]\n"
         "       ZQ_I2cIo inspect [--json] [--socket PATH]\n"
         "       ZQ_I2cIo --version\n"
         "Serves the I/O driver requests for a virtual mainboard (default) or, as root,\n"
         "for this machine's hardware. As root it listens in " +
         std::string(protocol::kSystemSocketFolder) +
         "; --group NAME lets\n"
         "the members of that group use it. Boards shipped: " +
         [] {
           std::string names;
           for (const auto& name : sim::Board::ShippedNames()) names += (names.empty() ? "" : ", ") + name;
           return names;
         }() +
         "\n";
}

std::unique_ptr<sim::Board> LoadBoard(const std::string& name, sim::TimeSource& time) {
  const bool isFile = name.find('/') != std::string::npos ||
                      (name.size() > 5 && name.compare(name.size() - 5, 5, ".toml") == 0);
  if (isFile) {
    if (!std::filesystem::is_regular_file(name)) throw std::runtime_error("no board profile file " + name);
    return sim::Board::FromProfileFile(name, time);
  }
  for (const auto& shipped : sim::Board::ShippedNames()) {
    if (shipped == name) return sim::Board::Shipped(name, time);
  }
  std::string names;
  for (const auto& shipped : sim::Board::ShippedNames()) names += (names.empty() ? "" : ", ") + shipped;
  throw std::runtime_error("unknown board '" + name + "' (shipped boards: " + names +
                           "; or name a profile file ending in .toml)");
}

nlohmann::json InspectBoard(sim::Board& board) {
  auto lock = board.Lock();
  nlohmann::json state;
  state["profile"] = board.ProfileName();
  std::vector<std::uint8_t> bios(kBiosStringRead, 0);
  std::string biosString;
  if (board.Bios().Read(sim::BiosRom::kModelStringAddress, bios)) {
    for (const std::uint8_t byte : bios) {
      if (byte == 0) break;
      biosString.push_back(static_cast<char>(byte));
    }
  }
  state["bios"] = biosString;
  state["fsbMhz"] = board.Processor().Fsb();
  state["cpuMhz"] = board.Processor().CoreMhz();
  state["multiplier"] = board.Processor().Multiplier();
  state["maxStableFsbMhz"] = board.Processor().MaxStableFsb();
  state["watchdog"] = {{"armed", board.Dog().Enabled()},
                       {"remainingMs", board.Dog().Remaining().count()},
                       {"timeoutMs", board.Dog().Timeout().count()}};
  state["hung"] = board.Hung();
  state["resetCount"] = board.ResetCount();
  // The board's own report holds every part; the chips come first for readers.
  nlohmann::json report = board.Inspect();
  if (report.is_object() && report.contains("chips")) {
    state["chips"] = report["chips"];
    if (report.contains("planned")) state["planned"] = report["planned"];
    if (report.contains("description")) state["description"] = report["description"];
    if (report.contains("analog")) state["analog"] = report["analog"];
  }
  state["board"] = std::move(report);
  return state;
}

int RunInspect(const DaemonOptions& options) {
  const std::string path = InspectedSocketPath(options);
  if (path.empty()) {
    Fail("no usable runtime folder; name the socket with --socket");
    return 1;
  }
  std::string answer;
  if (!ControlServer::Ask(path + kControlSuffix, "inspect", answer)) {
    Fail("no daemon answers at " + path + kControlSuffix);
    return 1;
  }
  nlohmann::json state = nlohmann::json::parse(answer, nullptr, false);
  if (state.is_discarded() || state.contains("error")) {
    Fail("the daemon's answer makes no sense: " + answer);
    return 1;
  }
  std::cout << (options.json ? state.dump(2) + "\n" : FormatInspection(state));
  return 0;
}

int RunDaemon(const DaemonOptions& options) {
  ::signal(SIGPIPE, SIG_IGN);
  if (options.readyFd >= 0 && ::fcntl(options.readyFd, F_GETFD) < 0) {
    Fail("--ready-fd " + std::to_string(options.readyFd) + " is not open");
    return 2;
  }
  CloseInheritedDescriptors(options.readyFd);
  const std::string path = SocketPath(options);
  if (path.empty()) {
    Fail("no usable runtime folder; name the socket with --socket");
    return 1;
  }

  sim::RealTimeSource time;
  std::unique_ptr<sim::Board> board;
  std::unique_ptr<Backend> backend;
  nlohmann::json hardware = {{"realHardware", true}};
  try {
    if (!options.group.empty()) ServeGroup(GroupId(options.group));
    if (options.realHardware) {
      auto real = RealHardwareBackend::Open(options.allowOwnedPorts);
      hardware["ports"] = DescribeGrants(*real);
      backend = std::move(real);
    } else {
      board = LoadBoard(BoardName(options), time);
      std::string error;
      if (!options.hwmonRoot.empty() && !sim::WriteHwmonTree(*board, options.hwmonRoot, error)) {
        throw std::runtime_error("cannot write the monitor's hwmon tree: " + error);
      }
    }
  } catch (const std::exception& error) {
    Fail(error.what());
    return 1;
  }

  Fd readyPipe;
  if (!options.foreground) {
    const int parentExit = Detach(readyPipe);
    if (parentExit >= 0) return parentExit;
  }

  // Only the waiting main thread takes the stop signals; every thread started
  // from here inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // From here every line goes through a queue: a full standard error must not
  // stall the thread that logs (the accept loop among them).
  ScopedDaemonLog log;

  const std::string name = FileName(path);
  const std::string controlName = name + kControlSuffix;
  std::optional<SocketFolder> folder;
  Fd lock;
  std::unique_ptr<VirtualBoardBackend> virtualBackend;
  std::unique_ptr<Dispatcher> dispatcher;
  std::unique_ptr<RequestServer> server;
  std::unique_ptr<ControlServer> control;
  try {
    std::optional<mode_t> ownMode;
    if (IsSystemDefault(options))
      ownMode = options.group.empty() ? kSystemFolderMode : kSystemGroupFolderMode;
    folder.emplace(SocketFolder::Open(FolderOf(path), ownMode));
    lock = folder->Lock(name + kLockSuffix);
    if (!lock.Valid()) throw std::runtime_error("another ZQ_I2cIo already serves " + path);
    if (board) {
      virtualBackend = std::make_unique<VirtualBoardBackend>(*board, VirtualBoardBackend::WhenHung::Block,
                                                             options.kernelSmbus);
      dispatcher = std::make_unique<Dispatcher>(*virtualBackend);
    } else {
      dispatcher = std::make_unique<Dispatcher>(*backend);
    }
    dispatcher->SetBuildIdentity(BuildIdentity());
    server = std::make_unique<RequestServer>(*dispatcher, folder->Listen(name, SOCK_SEQPACKET));
    sim::Board* inspected = board.get();
    control = std::make_unique<ControlServer>(
        folder->Listen(controlName, SOCK_STREAM),
        [inspected, hardware] {
          nlohmann::json state = inspected != nullptr ? InspectBoard(*inspected) : hardware;
          state["daemonPid"] = ::getpid();
          return state.dump();
        },
        Acceptor::Options{},
        [requests = server.get(), inspected](bool onlyWhenIdle, std::string& refusal) {
          // A daemon replaced for another build must not be pulled from under
          // another program or a clock change under watch.
          if (onlyWhenIdle) {
            if (const std::size_t clients = requests->ClientCount(); clients > 0) {
              refusal = "in use by " + std::to_string(clients) + " client(s)";
              return false;
            }
            if (inspected != nullptr) {
              auto boardLock = inspected->Lock();
              if (inspected->Dog().Enabled()) {
                refusal = "its watchdog is armed (a clock change is being watched)";
                return false;
              }
            }
          }
          ::kill(::getpid(), SIGTERM);
          return true;
        });
  } catch (const std::exception& error) {
    Fail(error.what());
    if (server) folder->Remove(name);
    return 1;
  }

  RequestServer* requests = server.get();
  if (board) {
    // A reset ends every program of the simulated machine, as a real one would.
    board->OnReset([requests] { KillProcessTrees(requests->DropClients()); });
  }
  server->Start();
  control->Start();

  std::atomic<bool> ticking{true};
  std::thread ticker;
  if (board) {
    // The user's own daemon ends when nobody has needed it for a while, so that
    // an old build does not serve on for ever; the system service does not.
    std::optional<IdleExit> idle;
    if (!IsSystemDefault(options)) idle.emplace(*server, *board, IdleExit::Clock::now());
    ticker = std::thread([&, idle]() mutable {
      auto nextHwmonWrite = std::chrono::steady_clock::now() + kHwmonPeriod;
      bool hwmonFailed = false;
      while (ticking) {
        {
          auto boardLock = board->Lock();
          board->Tick();
        }
        if (!options.hwmonRoot.empty() && !hwmonFailed && std::chrono::steady_clock::now() >= nextHwmonWrite) {
          std::string error;
          hwmonFailed = !sim::WriteHwmonTree(*board, options.hwmonRoot, error);
          if (hwmonFailed) LogLine("the monitor's hwmon tree is no longer written: " + error);
          nextHwmonWrite += kHwmonPeriod;
        }
        if (idle && idle->Due(IdleExit::Clock::now())) {
          LogLine("no client and no armed watchdog for " + std::to_string(IdleExit::kDefaultLimit.count()) +
                  " minutes: stopping");
          idle.reset();
          ::kill(::getpid(), SIGTERM);
        }
        std::this_thread::sleep_for(kTickPeriod);
      }
    });
  }

  SignalReady(options.readyFd);
  SignalReady(readyPipe.Release());
  if (!options.foreground) {
    // Until now failures reached whoever started us; from here on a detached
    // daemon must not hold that terminal or pipe open.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }

  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }

  ticking = false;
  if (ticker.joinable()) ticker.join();
  if (virtualBackend) virtualBackend->Shutdown();
  control->Stop();
  server->Stop();
  folder->Remove(name);
  folder->Remove(controlName);
  return 0;
}

}  // namespace rq::driver
