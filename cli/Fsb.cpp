// fsb set / fsb reset: the overclock window's guarded clock change.
#include <iomanip>
#include <optional>

#include "cli/Commands.h"
#include "engine/Formatting.h"

namespace rq::cli {
namespace {

// Below half its nominal clock no bus is meant to run: a target that low is a typo
// (13.3 for 133), not an underclock.
constexpr double kLowestFactor = 0.5;

std::string Mhz(double value) { return engine::FloatToText(value) + " MHz"; }

// What a change the driver stopped answering in leaves behind, for the user to know.
std::string Unconfirmed(const engine::MSupport& support) {
  if (!support.GetInWatch()) return "the clock is unknown";
  return "neither the new clock nor the watchdog's disarm could be confirmed; InWatch stays set in " +
         support.SettingsFile() + ", so the next start (the program or rqctl status) restores a safe clock";
}

}  // namespace

int FsbCommand(CommandContext& context) {
  const auto& args = context.args;
  const bool isSet = args.size() == 2 && args[0] == "set";
  const bool isReset = args.size() == 1 && args[0] == "reset";
  std::optional<double> target;
  if (isSet) target = ParsePositive(args[1]);
  if ((!isSet && !isReset) || (isSet && !target)) {
    context.err << "rqctl: fsb takes 'set MHZ' (a number above 0) or 'reset'\n";
    return kExitBadArguments;
  }

  Session session;
  // The lock first: the windowed program must not be half-way through its own start.
  if (!TakeInstanceLock(session, context.settingsFile, context.err)) return kExitRefused;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err))
    return code;
  engine::MSupport& support = *session.support;
  // A chip the stalled driver did not answer for is no chip missing.
  const std::string unchanged = "nothing was changed";
  if (DriverStopped(support, unchanged, context.err)) return kExitNoDaemon;
  if (support.clockGenerator == nullptr) {
    context.err << "rqctl: no programmable clock generator was found on this board\n";
    return kExitNoChip;
  }
  if (isSet) {
    const double highest = support.clockGenerator->GetHighestFsb();
    const double lowest = support.hwDefaultClock * kLowestFactor;
    if (DriverStopped(support, unchanged, context.err)) return kExitNoDaemon;
    if (*target > highest || *target < lowest) {
      context.err << "rqctl: " << Mhz(*target) << " is outside what " << support.clockGenerator->GetModel()
                  << " can be set to here (" << Mhz(lowest) << " to " << Mhz(highest) << ")\n";
      return kExitRefused;
    }
  }
  if (support.GetInWatch() && !RecoverAfterHang(session, context.environment, context.err)) {
    DriverStopped(support, Unconfirmed(support), context.err);
    return kExitNoDaemon;
  }

  const std::string before = support.ClocksRead() ? Mhz(support.fsbClock) : std::string("an unknown clock");
  const bool changed = isSet ? support.ChangeFsb(*target, true) : support.ResetToDefaultClock();
  if (!changed) {
    context.err << "rqctl: the change was refused: InWatch could not be written to " << support.SettingsFile()
                << "; the clock stays at " << before << "\n";
    return kExitRefused;
  }
  const bool readBack = support.RefreshClocks();
  if (readBack) context.err << "rqctl: FSB " << before << " -> " << Mhz(support.fsbClock) << "\n";
  if (!WaitOutWatch(support, context.environment, context.err) || !support.RefreshClocks()) {
    if (!DriverStopped(support, Unconfirmed(support), context.err)) {
      context.err
          << "rqctl: the clock generator's registers could not be read back: the new clock is unknown\n";
      return kExitFailure;
    }
    return kExitNoDaemon;
  }
  context.out << std::fixed << std::setprecision(2) << support.fsbClock << '\n';
  return kExitOk;
}

}  // namespace rq::cli
