#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "cli/Rqctl.h"
#include "cli/Session.h"

namespace rq::cli {

// What every command receives: its own arguments (after the command word), the
// settings file and the streams.
struct CommandContext {
  std::vector<std::string> args;
  std::string settingsFile;
  const Environment& environment;
  std::ostream& out;
  std::ostream& err;
};

int StatusCommand(CommandContext& context);
int SensorsCommand(CommandContext& context);
int LogCommand(CommandContext& context);
int DumpCommand(CommandContext& context);
int FsbCommand(CommandContext& context);
int DaemonCommand(CommandContext& context);

// The help text of a command ("" for the program's own), and whether one exists.
bool PrintHelp(const std::string& command, std::ostream& out);

// A whole decimal number of at least `lowest`; nothing for anything else.
std::optional<long> ParseCount(const std::string& text, long lowest);
// A finite decimal number above 0; nothing for anything else.
std::optional<double> ParsePositive(const std::string& text);

// The waits of `log --interval` and `sensors --watch`: at least 10 ms (faster
// would only load the bus), at most a day (a longer one is a typo, and seconds
// that large would overflow the clock's count).
inline constexpr double kShortestInterval = 0.01;
inline constexpr double kLongestInterval = 86400;
// Seconds within that range; nothing (with why on `err`) for anything else.
std::optional<double> ParseInterval(const std::string& option, const std::string& text, std::ostream& err);

// True (with the reason on `err`) when the driver daemon has stopped answering:
// what was read from then on is not the board's, and the command ends with
// kExitNoDaemon without showing it. `consequence` finishes the sentence.
bool DriverStopped(const engine::MSupport& support, const std::string& consequence, std::ostream& err);

}  // namespace rq::cli
