#include "driver/ProcessTree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

// Older C library headers lack the option; its number is fixed where the
// generic socket options apply.
#if !defined(SO_PEERPIDFD) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
                               defined(__arm__) || defined(__riscv))
#define SO_PEERPIDFD 77
#endif

namespace rq::driver {
namespace {

constexpr int kMaxWalks = 8;
// Fields of /proc/<pid>/stat counted from the one after "(comm)".
constexpr int kParentField = 1;
constexpr int kStartTimeField = 19;

// /proc/<pid>/stat is "pid (comm) state ppid ..."; comm may hold spaces and
// parentheses, so the fields are counted from the last ')'.
bool ParseStat(const std::string& stat, ProcessInfo& info) {
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  for (int index = 0; index <= kStartTimeField && rest >> field; ++index) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
    if (index == kParentField) {
      if (*end != '\0') return false;
      info.parent = static_cast<pid_t>(value);
    }
    if (index == kStartTimeField) info.startTime = value;
  }
  return !rest.fail();
}

// The uid when real, effective and saved uid are one ("Uid:" line of status).
std::optional<uid_t> SoleUid(const std::filesystem::path& statusPath) {
  std::ifstream status(statusPath);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    unsigned long real = 0, effective = 0, saved = 0;
    if (!(fields >> real >> effective >> saved) || real != effective || real != saved) return std::nullopt;
    return static_cast<uid_t>(real);
  }
  return std::nullopt;
}

std::optional<ProcessInfo> ReadProcessAt(const std::filesystem::path& folder, bool withOwner) {
  std::ifstream file(folder / "stat");
  std::string stat;
  ProcessInfo info;
  if (!std::getline(file, stat) || !ParseStat(stat, info)) return std::nullopt;  // gone meanwhile
  if (withOwner) info.uid = SoleUid(folder / "status");
  return info;
}

std::set<pid_t> SelfAndAncestors(const std::map<pid_t, pid_t>& parents) {
  std::set<pid_t> protectedPids;
  pid_t pid = ::getpid();
  while (pid > 0 && protectedPids.insert(pid).second) {
    const auto it = parents.find(pid);
    if (it == parents.end()) break;
    pid = it->second;
  }
  protectedPids.insert(1);
  return protectedPids;
}

// Called directly: not every C library wraps these calls.
int SignalThrough(int pidfd, int signal, siginfo_t* info, unsigned flags) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, info, flags));
}

unsigned long long TicksSinceBoot() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  const auto perSecond = static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK));
  return static_cast<unsigned long long>(now.tv_sec) * perSecond +
         static_cast<unsigned long long>(now.tv_nsec) * perSecond / 1000000000ULL;
}

bool Alive(const Fd& pidfd) { return SignalThrough(pidfd.Get(), 0, nullptr, 0) == 0; }

// One client's tree as it is being stopped: the pidfds held, by process id.
struct Tree {
  ClientProcess client;
  unsigned long long rootStart = 0;
  std::map<pid_t, Fd> stopped;
};

// A pidfd of `pid` that is known to be the process the walk saw.
Fd PinWalked(pid_t pid, const ProcessInfo& seen, uid_t uid, const std::string& procRoot) {
  Fd pidfd = PidfdOf(pid);
  if (!pidfd.Valid() || !IsSameProcess(pid, seen.startTime, uid, procRoot)) return Fd();
  return pidfd;
}

// Stops what is new in `tree`; true when something was.
bool StopNewcomers(Tree& tree, const std::map<pid_t, ProcessInfo>& processes,
                   const std::map<pid_t, pid_t>& parents, const std::set<pid_t>& spared,
                   const std::string& procRoot) {
  const auto root = processes.find(tree.client.pid);
  if (root == processes.end() || root->second.startTime != tree.rootStart) return false;  // it has gone
  std::vector<pid_t> walkFrom = {tree.client.pid};
  for (const auto& [pid, pidfd] : tree.stopped) walkFrom.push_back(pid);
  bool grew = false;
  for (const pid_t pid : TreesOf(parents, walkFrom)) {
    if (spared.count(pid) != 0 || tree.stopped.count(pid) != 0) continue;
    const auto seen = processes.find(pid);
    if (seen == processes.end() || seen->second.uid != tree.client.uid) continue;
    Fd pidfd = pid == tree.client.pid ? Fd(::fcntl(tree.client.pidfd.Get(), F_DUPFD_CLOEXEC, 0))
                                      : PinWalked(pid, seen->second, tree.client.uid, procRoot);
    if (pidfd.Valid() && SignalThrough(pidfd.Get(), SIGSTOP, nullptr, 0) == 0) {
      tree.stopped.emplace(pid, std::move(pidfd));
      grew = true;
    }
  }
  return grew;
}

}  // namespace

Fd PidfdOf(pid_t pid) { return Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))); }

std::map<pid_t, ProcessInfo> ReadProcesses(const std::string& procRoot) {
  std::map<pid_t, ProcessInfo> processes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (const auto info = ReadProcessAt(entry.path(), true)) {
      processes[static_cast<pid_t>(std::atol(name.c_str()))] = *info;
    }
  }
  return processes;
}

std::optional<ProcessInfo> ReadProcess(pid_t pid, const std::string& procRoot) {
  return ReadProcessAt(std::filesystem::path(procRoot) / std::to_string(pid), true);
}

bool IsSameProcess(pid_t pid, unsigned long long startTime, uid_t uid, const std::string& procRoot) {
  const auto now = ReadProcess(pid, procRoot);
  return now && now->startTime == startTime && now->uid == uid;
}

Fd PinPeerProcess(int socketFd, const PeerCredentials& peer) {
#ifdef SO_PEERPIDFD
  int kernelPidfd = -1;
  socklen_t length = sizeof kernelPidfd;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &kernelPidfd, &length) == 0 && kernelPidfd >= 0) {
    return Fd(kernelPidfd);
  }
#else
  (void)socketFd;
#endif
  const unsigned long long before = TicksSinceBoot();
  Fd pidfd = PidfdOf(peer.pid);
  if (!pidfd.Valid()) return pidfd;
  const auto info = ReadProcess(peer.pid);
  if (!info || info->uid != peer.uid || info->startTime > before || !Alive(pidfd)) return Fd();
  return pidfd;
}

std::map<pid_t, pid_t> ReadParents(const std::string& procRoot) {
  std::map<pid_t, pid_t> parents;
  for (const auto& [pid, info] : ReadProcesses(procRoot)) parents[pid] = info.parent;
  return parents;
}

std::set<pid_t> TreesOf(const std::map<pid_t, pid_t>& parents, const std::vector<pid_t>& roots) {
  std::map<pid_t, std::vector<pid_t>> children;
  for (const auto& [pid, parent] : parents) children[parent].push_back(pid);
  std::set<pid_t> found;
  std::vector<pid_t> pending(roots.begin(), roots.end());
  while (!pending.empty()) {
    const pid_t pid = pending.back();
    pending.pop_back();
    if (pid <= 0 || !found.insert(pid).second) continue;
    const auto it = children.find(pid);
    if (it != children.end()) pending.insert(pending.end(), it->second.begin(), it->second.end());
  }
  return found;
}

std::set<pid_t> KillProcessTrees(std::vector<ClientProcess> clients, const std::string& procRoot) {
  auto processes = ReadProcesses(procRoot);
  std::map<pid_t, pid_t> parents;
  for (const auto& [pid, info] : processes) parents[pid] = info.parent;
  // A client that is this daemon or started it keeps its other programs too:
  // ending them would end whoever runs the daemon.
  const std::set<pid_t> spared = SelfAndAncestors(parents);
  std::vector<Tree> trees;
  for (ClientProcess& client : clients) {
    const auto root = processes.find(client.pid);
    if (!client.pidfd.Valid() || spared.count(client.pid) != 0 || root == processes.end()) continue;
    const unsigned long long rootStart = root->second.startTime;
    // Alive after /proc was read: the id was still the client's when it was read.
    if (!Alive(client.pidfd)) continue;
    trees.push_back(Tree{std::move(client), rootStart, {}});
  }
  for (int walk = 0; walk < kMaxWalks && !trees.empty(); ++walk) {
    if (walk > 0) {
      processes = ReadProcesses(procRoot);
      parents.clear();
      for (const auto& [pid, info] : processes) parents[pid] = info.parent;
    }
    // Stopped processes stay where they are in the tree, so walking again from
    // them finds whatever they forked before the stop took effect.
    bool grew = false;
    for (Tree& tree : trees) grew = StopNewcomers(tree, processes, parents, spared, procRoot) || grew;
    if (!grew) break;
  }
  std::set<pid_t> signalled;
  for (Tree& tree : trees) {
    for (auto& [pid, pidfd] : tree.stopped) {
      SignalThrough(pidfd.Get(), SIGKILL, nullptr, 0);
      signalled.insert(pid);
    }
  }
  return signalled;
}

}  // namespace rq::driver
