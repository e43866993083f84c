#include "cli/Rqctl.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

#include "cli/Commands.h"
#include "engine/MSupport.h"
#include "platform/MessageBox.h"

namespace rq::cli {
namespace {

constexpr const char* kVersion = RQ_VERSION;

const char* const kProgramHelp =
    "Usage: rqctl [--settings FILE] COMMAND [OPTIONS]\n"
    "       rqctl --help | --version | COMMAND --help\n"
    "\n"
    "Rhomboquest without a window: the board's clocks, chips and sensors through the\n"
    "driver daemon ZQ_I2cIo (started as the program starts it when none runs), and\n"
    "the clock change the overclock window makes.\n"
    "\n"
    "Commands:\n"
    "  status [--json]                 board, chips, clocks, voltages, watchdog\n"
    "  sensors [--format F] [--watch SEC]\n"
    "                                  the monitor chip's sensors, or the host's\n"
    "                                  (text, json, openmetrics)\n"
    "  log [--interval SEC] [--count N] [--openmetrics-textfile PROM] [FILE]\n"
    "                                  one CSV row of sensors and clocks per interval\n"
    "  dump [--json]                   register dump for bug reports (read-only)\n"
    "  fsb set MHZ | fsb reset         change the FSB under the watchdog\n"
    "  daemon stop                     stop this user's driver daemon\n"
    "\n"
    "Options:\n"
    "  --settings FILE   settings file (default: the program's, torvane.ini in\n"
    "                    ~/.local/state/rhomboquest; from a build tree ./torvane.ini)\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 bad arguments, 3 no daemon (or it stopped\n"
    "answering, or the system's driver service refuses this user), 4 no such chip,\n"
    "5 refused (the windowed program runs, target out of range, settings not\n"
    "writable or not to be trusted).\n"
    "Data goes to standard output, messages to standard error. Manual: man rqctl.\n";

const std::map<std::string, const char*>& CommandHelp() {
  static const std::map<std::string, const char*> help = {
      {"status",
       "Usage: rqctl status [--json]\n"
       "BIOS model string, board model, detected chips, clocks (CPU, FSB, AGP, PCI,\n"
       "memory), overclock percentage, hardware default and safe clock, voltages,\n"
       "watchdog and InWatch. Reads only; but when InWatch is set (the last clock\n"
       "change hung) and the windowed program is not running, it first restores a safe\n"
       "clock as the program does at start and says so on standard error.\n"},
      {"sensors",
       "Usage: rqctl sensors [--format text|json|openmetrics] [--json] [--watch SECONDS]\n"
       "The monitor chip's sensors with the board section's labels and switches;\n"
       "without one, the host's own as the kernel lists them under\n"
       "$RQ_SYSFS_ROOT/class/hwmon (default /sys).\n"
       "--json is --format json; openmetrics is the exposition format a Prometheus\n"
       "scrape or node_exporter's textfile collector reads (rhomboquest_hwmon_*).\n"
       "--watch refreshes every SECONDS (0.01 to 86400) until Ctrl-C (in place on a\n"
       "terminal; with --json one object per line), each value with the lowest and\n"
       "highest since the start and when they were seen (JSON: min and max always).\n"
       "With no daemon the host's own sensors are shown all the same (the board's chip\n"
       "needs the daemon; standard error says so).\n"
       "Exit 4 when there is neither a monitor chip nor a host sensor, 1 when standard\n"
       "output cannot be written.\n"},
      {"log",
       "Usage: rqctl log [--interval SECONDS] [--count N] [--openmetrics-textfile PROM] [FILE]\n"
       "CSV to FILE or standard output: a header naming every column with\n"
       "its unit, then one row per interval (0.01 to 86400 s, default 1 s): ISO-8601\n"
       "time, each enabled sensor, FSB, AGP, PCI and memory clocks. Each row is flushed\n"
       "as it is written. Ends after N rows or on Ctrl-C/SIGTERM (exit 0). An existing\n"
       "regular FILE of the same columns goes on; one of other columns is refused. A\n"
       "pipe, FIFO or device gets the header, then rows; a FIFO nobody reads is waited\n"
       "for up to 60 s. A failed write (no space, no reader) ends it with exit 1.\n"
       "--openmetrics-textfile replaces PROM whole each interval with the sensors in\n"
       "the exposition format (for node_exporter's textfile collector); the CSV then\n"
       "goes only to a FILE named (- for standard output). PROM's folder must exist;\n"
       "a PROM that is a link, folder or device is refused (exit 1).\n"},
      {"dump",
       "Usage: rqctl dump [--json]\n"
       "Grids of the clock generator's bytes, the north bridge's configuration space,\n"
       "the SMBus host's registers and the monitor chip's banks (the bank select is\n"
       "restored). Reads only.\n"},
      {"fsb",
       "Usage: rqctl fsb set MHZ\n"
       "       rqctl fsb reset\n"
       "Changes the FSB as the overclock window does: InWatch is written first, the\n"
       "clock generator's watchdog is armed around the change and disarmed after ten\n"
       "quiet seconds, which rqctl waits out (progress on standard error). Ctrl-C\n"
       "during the change or its watch does not cut the watch short: rqctl ends when\n"
       "the watch ends. `set` does not record the clock as safe (the program restores\n"
       "the safe clock at its next start); `reset` returns to the hardware default,\n"
       "records it as safe and restores normal voltages, like the window's reset.\n"
       "Refused (exit 5) while the windowed program runs, when MHZ is above the\n"
       "fastest clock the chip makes or below half the hardware default; exit 4 when\n"
       "no clock generator was found.\n"},
      {"daemon",
       "Usage: rqctl daemon stop\n"
       "Stops this user's own driver daemon ZQ_I2cIo (and its virtual board) cleanly;\n"
       "the next command or program start starts it again. Nothing to stop is not an\n"
       "error. The system service (root's) is refused (exit 5): stop it with the\n"
       "system's service manager.\n"},
  };
  return help;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

bool PrintHelp(const std::string& command, std::ostream& out) {
  if (command.empty()) {
    out << kProgramHelp;
    return true;
  }
  const auto found = CommandHelp().find(command);
  if (found == CommandHelp().end()) return false;
  out << found->second;
  return true;
}

std::optional<long> ParseCount(const std::string& text, long lowest) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value < lowest) return std::nullopt;
  return value;
}

std::optional<double> ParsePositive(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0)
    return std::nullopt;
  return value;
}

std::optional<double> ParseInterval(const std::string& option, const std::string& text, std::ostream& err) {
  const std::optional<double> seconds = ParsePositive(text);
  if (seconds && *seconds >= kShortestInterval && *seconds <= kLongestInterval) return seconds;
  err << "rqctl: " << option << " takes seconds from " << kShortestInterval << " to " << kLongestInterval
      << ", not '" << text << "'\n";
  return std::nullopt;
}

bool DriverStopped(const engine::MSupport& support, const std::string& consequence, std::ostream& err) {
  if (support.DriverAnswers()) return false;
  err << "rqctl: the driver daemon ZQ_I2cIo stopped answering (no reply within "
      << ReplyTimeout().count() / 1000.0 << " s, or it closed the connection): " << consequence << "\n";
  return true;
}

int Run(const std::vector<std::string>& args, const Environment& environment, std::ostream& out,
        std::ostream& err) {
  std::string settingsFile;
  std::size_t next = 0;
  for (; next < args.size(); ++next) {
    const std::string& arg = args[next];
    if (IsHelp(arg)) {
      PrintHelp("", out);
      return kExitOk;
    }
    if (arg == "--version") {
      out << "rqctl " << kVersion << '\n';
      return kExitOk;
    }
    if (arg == "--settings") {
      if (next + 1 >= args.size() || args[next + 1].empty()) {
        err << "rqctl: --settings needs a file name\n";
        return kExitBadArguments;
      }
      settingsFile = args[++next];
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      err << "rqctl: unknown option " << arg << "\nTry 'rqctl --help'.\n";
      return kExitBadArguments;
    }
    break;
  }
  if (next >= args.size()) {
    err << "rqctl: no command given\n" << kProgramHelp;
    return kExitBadArguments;
  }
  const std::string command = args[next];
  const std::vector<std::string> commandArgs(args.begin() + static_cast<long>(next) + 1, args.end());
  if (std::any_of(commandArgs.begin(), commandArgs.end(), IsHelp) && PrintHelp(command, out)) return kExitOk;
  // The program's own settings store (engine/SettingsStore.h), and never a file
  // someone else could have planted.
  const engine::SettingsChoice choice = engine::ChooseSettingsFile(settingsFile, false);
  if (choice.problem) {
    err << "rqctl: cannot use the settings folder: " << *choice.problem << '\n';
    return kExitFailure;
  }
  if (const auto refused = engine::RefusedSettingsFile(choice.file)) {
    err << "rqctl: " << *refused << '\n';
    return kExitRefused;
  }
  CommandContext context{commandArgs, choice.file, environment, out, err};
  // Messages the engine would show in a box (a settings file that cannot be
  // written) go to standard error.
  platform::SetMessageBoxHandler([&err](const std::string& text, const std::string& caption, unsigned) {
    err << "rqctl: " << caption << ": " << text << '\n';
    return platform::kIdOk;
  });
  int code = kExitBadArguments;
  if (command == "status") {
    code = StatusCommand(context);
  } else if (command == "sensors") {
    code = SensorsCommand(context);
  } else if (command == "log") {
    code = LogCommand(context);
  } else if (command == "dump") {
    code = DumpCommand(context);
  } else if (command == "fsb") {
    code = FsbCommand(context);
  } else if (command == "daemon") {
    code = DaemonCommand(context);
  } else {
    err << "rqctl: unknown command " << command << "\nTry 'rqctl --help'.\n";
  }
  platform::SetMessageBoxHandler({});
  // A full disk or a closed pipe on standard output is a failure, not a success
  // with nothing shown.
  if (!out.flush() && code == kExitOk) {
    err << "rqctl: writing to standard output failed\n";
    code = kExitFailure;
  }
  return code;
}

}  // namespace rq::cli
