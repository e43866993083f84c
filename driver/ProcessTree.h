#pragma once
#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "driver/UnixSocket.h"

namespace rq::driver {

// What /proc says of one process. A process id is recycled once its process is
// reaped; the id, its start time and its owner together name one process.
struct ProcessInfo {
  pid_t parent = 0;
  unsigned long long startTime = 0;  // clock ticks after boot
  std::optional<uid_t> uid;          // unset unless real, effective and saved uid agree (or unknown)
};

// A client as the daemon may later have to end it: a pidfd of the very process
// that connected (invalid when it could not be pinned), its id and its user.
struct ClientProcess {
  Fd pidfd;
  pid_t pid = 0;
  uid_t uid = 0;
};

// A pidfd of `pid` (invalid, errno set, when there is no such process).
Fd PidfdOf(pid_t pid);

// Every process listed under `procRoot` (normally /proc).
std::map<pid_t, ProcessInfo> ReadProcesses(const std::string& procRoot = "/proc");
std::optional<ProcessInfo> ReadProcess(pid_t pid, const std::string& procRoot = "/proc");

// True when `pid` is still the process that started at `startTime`, and belongs
// to `uid` alone (a set-user-id program the user started is not the user's).
bool IsSameProcess(pid_t pid, unsigned long long startTime, uid_t uid, const std::string& procRoot = "/proc");

// A pidfd of the process at the other end of the connected socket `socketFd`:
// the kernel's own where it gives one, else the peer's pid opened right away and
// checked to belong to the peer's user and to have started before this call (a
// process started later took over a recycled id). Invalid when neither works.
Fd PinPeerProcess(int socketFd, const PeerCredentials& peer);

// The parent of every process listed under `procRoot`.
std::map<pid_t, pid_t> ReadParents(const std::string& procRoot = "/proc");

// `roots` and every process descending from one of them.
std::set<pid_t> TreesOf(const std::map<pid_t, pid_t>& parents, const std::vector<pid_t>& roots);

// Ends each client and all its descendants with SIGKILL, as a machine reset ends
// every program on it. The trees are stopped first and walked again until no new
// process appears, so that a child forked meanwhile is not missed by being
// re-parented away. Every signal goes through a pidfd: the client's own, taken at
// connect (a client that has exited is skipped), or, for a descendant, one opened
// and then checked against the start time seen in the walk. Only processes of the
// client's own user are touched; this process and its ancestors, and the trees of
// clients that are one of them, never.
// Returns the processes signalled.
std::set<pid_t> KillProcessTrees(std::vector<ClientProcess> clients, const std::string& procRoot = "/proc");

}  // namespace rq::driver
