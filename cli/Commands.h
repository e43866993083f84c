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

}  // namespace rq::cli
