#include "cli/Session.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "hw/DriverSetup.h"
#include "hw/IOInterface.h"
#include "hw/SocketDriverHandle.h"
#include "platform/MessageBox.h"

namespace rq::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr int kPollsPerProgressLine = 10;
constexpr std::uint32_t kCpuMeasureMs = 100;
// Lets the tests of a stalled daemon take seconds instead of minutes.
constexpr const char* kReplyTimeoutVariable = "RQ_TEST_REPLY_TIMEOUT_MS";

void StartCpuMeasure(Session& session) {
  std::uint64_t counter = 0;
  session.counterAtOpen.reset();
  if (hw::IOInterface().ReadTimeStampCounter(counter)) session.counterAtOpen = counter;
  session.openedAt = std::chrono::steady_clock::now();
}

}  // namespace

std::unique_ptr<hw::DriverHandle> ConnectToDaemon() {
  // As the program does: the system service's socket when it serves us, else the
  // user's own daemon, started (and registered) on the virtual board when none runs.
  hw::DriverSetupReport report;
  hw::DriverSetupEnvironment setup = hw::SystemDriverSetupEnvironment();
  setup.openDevice = [] { return hw::ConnectToDefaultDriver(ReplyTimeout()); };
  std::unique_ptr<hw::DriverHandle> handle = hw::SetUpDriver(setup, &report);
  // A refusal is said by OpenSession, with its exit code.
  if (handle == nullptr && !report.messageShown && report.refusal.empty())
    platform::MessageBox(report.Explanation(), "Error", platform::kMbIconError);
  return handle;
}

int OpenSession(Session& session, const std::string& settingsFile, const Environment& environment,
                std::ostream& err, Detect detect) {
  engine::MSupportOptions options;
  options.lookOnly = true;
  options.settingsFile = settingsFile;
  options.timing = environment.timing;
  std::function<std::unique_ptr<hw::DriverHandle>()> open =
      environment.openDriver ? environment.openDriver : &ConnectToDaemon;
  options.openDriver = [open, &session] {
    std::unique_ptr<hw::DriverHandle> handle = open();
    if (handle != nullptr) {
      const hw::DriverState saved = hw::ProcessDriverState();
      hw::ProcessDriverState() = hw::DriverState{true, handle.get()};
      StartCpuMeasure(session);
      hw::ProcessDriverState() = saved;
    }
    return handle;
  };
  options.hostSensorsWithoutDriver = detect == Detect::HostSensors;
  if (detect != Detect::Everything) {
    options.clockGeneratorCandidates = [](const std::string&) {
      return devices::CandidateList<devices::I2cClockGenIo>{};
    };
  }
  session.support = std::make_unique<engine::MSupport>(std::move(options));
  if (!session.support->DriverReady()) {
    if (const std::string refusal = hw::SystemServiceRefusal(); !refusal.empty()) {
      err << "rqctl: " << refusal << '\n';
    } else {
      err << "rqctl: the driver daemon ZQ_I2cIo does not answer and could not be started\n";
    }
    return kExitNoDaemon;
  }
  return kExitOk;
}

bool TakeInstanceLock(Session& session, const std::string& settingsFile, std::ostream& err) {
  bool alreadyExists = false;
  session.locks = engine::TakeInstanceLocks(settingsFile, alreadyExists);
  if (session.locks.Held()) return true;
  const bool noRuntimeLock = session.locks.runtime == nullptr;
  session.locks = {};
  if (alreadyExists) {
    err << "rqctl: the windowed program (or another rqctl) is using " << settingsFile
        << "; change the clock there or close it first\n";
  } else if (noRuntimeLock) {
    err << "rqctl: cannot take the single-instance lock (no usable runtime folder), so cannot make sure "
           "the windowed program is not running\n";
  } else {
    err << "rqctl: cannot take the lock " << engine::SettingsLockFile(settingsFile)
        << ", so cannot make sure the windowed program is not using the same settings\n";
  }
  return false;
}

bool RecoverAfterHang(Session& session, const Environment& environment, std::ostream& err) {
  engine::MSupport& support = *session.support;
  err << "rqctl: the last clock change did not end cleanly (InWatch is set): restoring a safe clock as the "
         "program does at start\n";
  support.RunStartUpRestore();
  if (!WaitOutWatch(support, environment, err)) return false;
  support.RefreshClocks();
  // The processor ran at the old clock until now.
  StartCpuMeasure(session);
  return support.DriverAnswers();
}

bool WaitOutWatch(engine::MSupport& support, const Environment& environment, std::ostream& err) {
  if (!support.WatchdogRunning()) return support.DriverAnswers();
  err << "rqctl: watching the new clock; the watchdog is disarmed after ten quiet seconds\n";
  bool stopSeen = false;
  for (int polls = 0; support.WatchdogRunning(); ++polls) {
    // The watch itself asks the driver nothing until it disarms: a daemon that
    // stalls meanwhile is noticed by asking it something at every look.
    std::uint64_t counter = 0;
    hw::IOInterface().ReadTimeStampCounter(counter);
    if (!support.DriverAnswers()) {
      support.StopWatchdogThread();
      return false;
    }
    if (!stopSeen && environment.stop != nullptr && environment.stop->load()) {
      // Ending now would leave a clock that was just set without its watch: a hang
      // then would go unrecovered. The watch is short, so it is waited out.
      stopSeen = true;
      err << "rqctl: interrupted; the new clock stays watched until the watch ends, then rqctl ends\n";
    }
    if (polls > 0 && polls % kPollsPerProgressLine == 0) err << "rqctl: watch: " << polls / 10 << " s\n";
    std::this_thread::sleep_for(kPollInterval);
  }
  // The disarm at the end of the watch is the request that may have gone unanswered.
  if (!support.DriverAnswers()) return false;
  err << "rqctl: watch ended, watchdog disarmed\n";
  return true;
}

std::chrono::milliseconds ReplyTimeout() {
  constexpr std::chrono::milliseconds kShortestTestTimeout{100};
  const char* text = std::getenv(kReplyTimeoutVariable);
  if (text == nullptr) return hw::SocketDriverHandle::kReplyTimeout;
  char* end = nullptr;
  const long long ms = std::strtoll(text, &end, 10);
  // Only ever shorter than the program's bound; below a tenth of a second even a
  // healthy daemon would pass for a stalled one.
  if (end == text || *end != '\0' || ms < kShortestTestTimeout.count() ||
      ms > hw::SocketDriverHandle::kReplyTimeout.count())
    return hw::SocketDriverHandle::kReplyTimeout;
  return std::chrono::milliseconds(ms);
}

std::optional<double> MeasureCpuMhz(const Session& session) {
  if (!session.counterAtOpen) return std::nullopt;
  const auto shortest = session.openedAt + std::chrono::milliseconds(kCpuMeasureMs);
  std::this_thread::sleep_until(shortest);
  std::uint64_t counter = 0;
  if (!hw::IOInterface().ReadTimeStampCounter(counter)) return std::nullopt;
  const double us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - session.openedAt).count();
  if (us <= 0 || counter <= *session.counterAtOpen) return std::nullopt;
  return static_cast<double>(counter - *session.counterAtOpen) / us;
}

}  // namespace rq::cli
