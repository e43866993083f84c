#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rq::platform {

// A child program started by command line, the stand-in for a process handle.
// Freeing it does not end the program (as closing a handle does not); a program
// still running then is reaped in the background, so no zombie is left behind.
class Process {
 public:
  // Starts `commandLine` (program name and arguments separated by blanks; double
  // quotes group, a backslash escapes a quote or a backslash). A name without a
  // slash is looked up in the program's own folder first, then in $PATH. The child
  // inherits the environment, the current directory and every descriptor not
  // marked close-on-exec. Null when the program cannot be found or started.
  static std::unique_ptr<Process> Start(const std::string& commandLine);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return pid_; }
  // True when the program has ended within `timeoutMs` (0xFFFFFFFF waits forever).
  bool Wait(std::uint32_t timeoutMs = 0xFFFFFFFF);
  bool Ended();
  // The exit code once the program has ended by exiting; none while it runs or
  // when a signal ended it.
  std::optional<int> ExitCode() const { return exitCode_; }
  // The signal that ended it, if one did.
  std::optional<int> TermSignal() const { return termSignal_; }
  void Kill();

 private:
  Process(pid_t pid, int pidFd) : pid_(pid), pidFd_(pidFd) {}
  bool Reap(bool block);
  friend bool WaitForProcesses(const std::vector<Process*>&, std::uint32_t);

  pid_t pid_;
  int pidFd_;  // -1 when the kernel offers no process descriptors
  bool ended_ = false;
  std::optional<int> exitCode_;
  std::optional<int> termSignal_;
};

// True when every process in `processes` (null entries are skipped) has ended
// within `timeoutMs`; 0xFFFFFFFF waits without time-out.
bool WaitForProcesses(const std::vector<Process*>& processes, std::uint32_t timeoutMs = 0xFFFFFFFF);

// The folder of the running program (from /proc/self/exe).
std::string ProgramDirectory();

// Where the program's helper programs (daemon, stress programs) and shared files
// (animations, board sections) lie once installed: libexec/rhomboquest and
// share/rhomboquest beside the program's bin/. Empty when the program's folder is unknown.
std::string HelperProgramDirectory();
std::string SharedDataDirectory();

// The words of a command line, split as Start does.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace rq::platform
