#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Timing.h"
#include "hw/DriverHandle.h"

namespace rq::cli {

// Exit codes scripts rely on (docs/rqctl.md).
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,       // the command ran and failed (a write, a read that did not answer)
  kExitBadArguments = 2,  // unknown command or option, missing or malformed value
  kExitNoDaemon = 3,      // the driver daemon is not running or does not answer
  kExitNoChip = 4,        // the board has no chip the command needs
  kExitRefused = 5,       // refused: the windowed program runs, target out of range, no mark
};

// What rqctl reaches of the outside world; tests plug in a board in the process.
struct Environment {
  // Connects to a running daemon; null when none answers. rqctl never starts one.
  std::function<std::unique_ptr<hw::DriverHandle>()> openDriver;
  // Set by SIGINT/SIGTERM: ends `log` and `sensors --watch`; a clock change ends
  // its watch first.
  const std::atomic<bool>* stop = nullptr;
  // Waits of the clock change and its watch; null means real time.
  std::shared_ptr<engine::Timing> timing;
  // Called by the commands a stop may end at any moment (`log`, `sensors`): a stop
  // that a driver request holds up then ends the process a moment later.
  std::function<void()> endOnStop;
  bool stdoutIsTerminal = false;
  // Standard output as a descriptor, for `log` and `sensors` to write without ever
  // blocking a stop; -1 writes to the stream instead (in-process callers).
  int outFd = -1;
  // The processor clock for status; null means measuring the driver's counter.
  std::function<std::optional<double>()> measureCpuMhz;
};

// Runs one command line (without the program name) and answers its exit code.
// Data goes to `out`, messages and progress to `err`.
int Run(const std::vector<std::string>& args, const Environment& environment, std::ostream& out,
        std::ostream& err);

// The daemon connection the windowed program makes: the system service's socket or
// the user's own daemon, started when none runs; null (the reason reported) when
// neither can be had.
std::unique_ptr<hw::DriverHandle> ConnectToDaemon();

}  // namespace rq::cli
