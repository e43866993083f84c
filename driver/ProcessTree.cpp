#include "driver/ProcessTree.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rq::driver {
namespace {

constexpr int kMaxWalks = 8;

// /proc/<pid>/stat is "pid (comm) state ppid ..."; comm may hold spaces and
// parentheses, so the fields are counted from the last ')'.
bool ParentFromStat(const std::string& stat, pid_t& parent) {
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  long ppid = 0;
  if (!(rest >> state >> ppid)) return false;
  parent = static_cast<pid_t>(ppid);
  return true;
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

}  // namespace

std::map<pid_t, pid_t> ReadParents(const std::string& procRoot) {
  std::map<pid_t, pid_t> parents;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream file(entry.path() / "stat");
    std::string stat;
    if (!std::getline(file, stat)) continue;  // gone meanwhile
    pid_t parent = 0;
    if (ParentFromStat(stat, parent)) parents[static_cast<pid_t>(std::atol(name.c_str()))] = parent;
  }
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

std::set<pid_t> KillProcessTrees(const std::vector<pid_t>& roots) {
  std::set<pid_t> stopped;
  std::set<pid_t> spared;
  std::vector<pid_t> walkFrom;
  for (int walk = 0; walk < kMaxWalks; ++walk) {
    const auto parents = ReadParents();
    if (walk == 0) {
      // A client that is this daemon or started it keeps its other programs too:
      // ending them would end whoever runs the daemon.
      spared = SelfAndAncestors(parents);
      for (const pid_t root : roots) {
        if (spared.count(root) == 0) walkFrom.push_back(root);
      }
    }
    // Stopped processes stay where they are in the tree, so walking again from
    // them finds whatever they forked before the stop took effect.
    walkFrom.insert(walkFrom.end(), stopped.begin(), stopped.end());
    bool grew = false;
    for (const pid_t pid : TreesOf(parents, walkFrom)) {
      if (spared.count(pid) != 0 || stopped.count(pid) != 0) continue;
      if (::kill(pid, SIGSTOP) == 0) {
        stopped.insert(pid);
        grew = true;
      }
    }
    if (!grew) break;
  }
  for (const pid_t pid : stopped) ::kill(pid, SIGKILL);
  return stopped;
}

}  // namespace rq::driver
