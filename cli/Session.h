#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/Rqctl.h"
#include "engine/MSupport.h"

namespace rq::cli {

// The system object as rqctl uses it: a look that changes nothing, built on the
// same detection as the windows.
struct Session {
  std::unique_ptr<engine::MSupport> support;
  // Held while rqctl may change the clock, so the windowed program cannot start.
  engine::InstanceLocks locks;
  // The driver's time-stamp counter when the driver was opened, and when: the
  // processor clock is measured across detection instead of in a wait of its own.
  std::optional<std::uint64_t> counterAtOpen;
  std::chrono::steady_clock::time_point openedAt;
};

// What a command needs detected: the clock generator's probe is the slow part.
// HostSensors: what sensors need, and without a daemon the host's own sensors alone.
enum class Detect { Everything, AllButClockGenerator, HostSensors };

// Builds the look; kExitOk, or kExitNoDaemon (said on `err`) when no daemon answers.
int OpenSession(Session& session, const std::string& settingsFile, const Environment& environment,
                std::ostream& err, Detect detect = Detect::Everything);

// Takes the windowed program's single-instance locks (engine::TakeInstanceLocks);
// false (with why on `err`) when the program runs or a lock cannot be made at all.
bool TakeInstanceLock(Session& session, const std::string& settingsFile, std::ostream& err);

// After a hang (InWatch set) the start-up recovery the windowed program makes, said
// on `err`, then the watch of the restored clock waited out. Needs the lock.
// False when the driver stopped answering during it.
bool RecoverAfterHang(Session& session, const Environment& environment, std::ostream& err);

// Waits until the watchdog thread has disarmed, with progress on `err`. False when
// the driver stopped answering meanwhile: the watch is then ended at once (a
// disarm could not reach the chip anyway) and InWatch stays for the next start.
bool WaitOutWatch(engine::MSupport& support, const Environment& environment, std::ostream& err);

// How long rqctl waits for the daemon's reply to one request before it takes the
// daemon as gone: the program's bound, unless a test shortens it through
// RQ_TEST_REPLY_TIMEOUT_MS (100 to 60000; docs/rqctl.md).
std::chrono::milliseconds ReplyTimeout();

// The processor clock from the driver's time-stamp counter since the session was
// opened (at least 100 ms), or nothing.
std::optional<double> MeasureCpuMhz(const Session& session);

}  // namespace rq::cli
