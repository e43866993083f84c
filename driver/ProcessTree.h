#pragma once
#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace rq::driver {

// The parent of every process listed under `procRoot` (normally /proc).
std::map<pid_t, pid_t> ReadParents(const std::string& procRoot = "/proc");

// `roots` and every process descending from one of them.
std::set<pid_t> TreesOf(const std::map<pid_t, pid_t>& parents, const std::vector<pid_t>& roots);

// Ends `roots` and all their descendants with SIGKILL, as a machine reset ends
// every program on it. The trees are stopped first and walked again until no new
// process appears, so that a child forked meanwhile is not missed by being
// re-parented away. This process and its ancestors, and the trees of roots
// that are one of them, are never touched.
// Returns the processes signalled.
std::set<pid_t> KillProcessTrees(const std::vector<pid_t>& roots);

}  // namespace rq::driver
