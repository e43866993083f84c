// Clock changes under the watchdog, the derived clocks, the safe-clock bookkeeping
// and the restore after a hang.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "devices/Rounding.h"
#include "engine/DisableWDThread.h"
#include "engine/Formatting.h"
#include "engine/MSupport.h"

namespace rq::engine {
namespace {

constexpr const char* kKeySafeFreq = "SafeFreq";
constexpr const char* kKeyHwDefCpuClk = "HWDefCPUClk";
constexpr std::uint32_t kSettleMs = 100;
// A hang during a watched change restarts this far below the stored safe clock.
constexpr double kRecoveryBackoffMhz = 3.0;
// No board runs its bus at twice its nominal clock: a stored safe clock beyond
// that is damage or mischief (and past what some PLL fields can make at all).
constexpr double kHighestSafeFactor = 2.0;
// A recorded default stands in for the chip's own word only near the bus class the
// chip reports: a record far from it is no record of this board.
constexpr double kRecordedDefaultFactor = 2.0;

constexpr const char* kBootIdFile = "/proc/sys/kernel/random/boot_id";
// The field of /proc/<pid>/stat that holds the process's start time since boot.
constexpr int kStartTimeField = 22;
// The first field after the command name, which may itself hold blanks and brackets.
constexpr int kFieldAfterName = 3;

// A small file of /proc whole; empty when it cannot be read.
std::string ReadText(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buffer[512];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return text;
}

// A clock read from the settings: a finite number above 0, else nothing.
std::optional<double> PositiveClock(const std::string& text) {
  const std::optional<double> value = TextToFloat(text);
  if (!value.has_value() || *value <= 0.0) return std::nullopt;
  return value;
}

}  // namespace

std::string WatchIdentity(long pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const auto nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return {};
  std::string field;
  std::string state;
  int number = kFieldAfterName - 1;
  for (std::size_t at = nameEnd + 1; number < kStartTimeField;) {
    const std::size_t start = stat.find_first_not_of(' ', at);
    if (start == std::string::npos) break;
    at = std::min(stat.find(' ', start), stat.size());
    field = stat.substr(start, at - start);
    if (++number == kFieldAfterName) state = field;
  }
  // A process that has ended but is not yet reaped watches nothing either.
  if (number != kStartTimeField || state == "Z" || state == "X") return {};
  std::string boot = ReadText(kBootIdFile);
  boot.erase(std::remove(boot.begin(), boot.end(), '\n'), boot.end());
  return boot + ":" + std::to_string(pid) + ":" + field;
}

bool WatchHolderRuns(const std::string& holder) {
  const auto first = holder.find(':');
  const auto second = holder.find(':', first == std::string::npos ? first : first + 1);
  if (second == std::string::npos) return false;
  const long pid = std::strtol(holder.substr(first + 1, second - first - 1).c_str(), nullptr, 10);
  return pid > 0 && WatchIdentity(pid) == holder;
}

DisableWDThread::Mark MSupport::WriteWatchMark(bool on) const {
  using Mark = DisableWDThread::Mark;
  // A disarm that went to a driver which no longer answers may not have reached
  // the chip: the watchdog can still fire, so the mark must stay for the next
  // start to recover from.
  if (!on && deviceHandle_ != nullptr && !deviceHandle_->Connected()) return Mark::Failed;
  // Another process's watch that still runs holds the mark: taking it over would let
  // this watch's end clear it under the other's armed watchdog, so it stays theirs
  // (and this watch, which did not set it, leaves it). A mark of a process that is
  // gone is a hang's, ours to renew.
  if (on && GetInWatch()) {
    const std::string holder = InWatchHolder();
    if (!holder.empty() && holder != WatchIdentity(::getpid()) && WatchHolderRuns(holder))
      return Mark::HeldElsewhere;
  }
  return SetInWatch(on) ? Mark::Set : Mark::Failed;
}

bool MSupport::ChangeFsb(double target, bool autoDisarm) {
  bool markFailed = false;
  {
    std::lock_guard lock(watchdogMutex_);
    bool armed =
        watchdogThread_ != nullptr && watchdogThread_->Running() && watchdogThread_->Rearm(autoDisarm);
    if (!armed) {
      // The previous thread has ended or is disarming: let it finish (its InWatch = 0
      // lands before the new thread's 1), then watch this change with a fresh one.
      if (watchdogThread_ != nullptr) watchdogThread_->Stop();
      watchdogThread_ = std::make_unique<DisableWDThread>(
          clockGenerator.get(), [this](bool on) { return WriteWatchMark(on); }, Clock());
      watchdogThread_->SetAutoDisarm(autoDisarm);
      watchdogThread_->Start();
      watchdogThread_->SetPriority(platform::ThreadPriority::AboveNormal);
      armed = watchdogThread_->WaitUntilArmed();
      markFailed = watchdogThread_->MarkFailed();
    }
    if (armed) {
      Clock().Sleep(kSettleMs);
      if (clockGenerator != nullptr) clockGenerator->SetFsb(target);
      return true;
    }
  }
  // Outside the lock: the box waits for the user, and closing takes that lock.
  if (markFailed) ReportSettingsWriteFailure();
  return false;
}

bool MSupport::RefreshClocks() {
  bool read = true;
  if (clockGenerator != nullptr) {
    const devices::DerivedClocks clocks = clockGenerator->ReadClocks();
    read = clocks.read;
    if (read) {
      fsbClock = clocks.fsb;
      agpClock = clocks.agp;
      pciClock = clocks.pci;
    }
  }
  if (read && northBridge != nullptr) memoryClock = northBridge->GetMemoryClock(fsbClock);
  // A driver that stopped answering part-way leaves nothing to trust either.
  read = read && (deviceHandle_ == nullptr || deviceHandle_->Connected());
  clocksRead_ = read;
  return read;
}

int MSupport::GetOverclockPercent() const {
  if (hwDefaultClock == 0.0) return 100;
  return static_cast<int>(devices::RoundTo(fsbClock * 100.0 / hwDefaultClock, 0));
}

bool MSupport::WriteSafeFreq(const std::optional<std::string>& value) const {
  const bool written = WriteSettingString(kOverclockSection, kKeySafeFreq, value);
  if (!written) ReportSettingsWriteFailure();
  return written;
}

void MSupport::SaveSafeFreq() const {
  if (devices::RoundTo(hwDefaultClock.load(), 0) <= devices::RoundTo(fsbClock.load(), 0))
    WriteSafeFreq(FloatToText(fsbClock));
}

double MSupport::GetSafeFreq(bool useDefault) const {
  if (useDefault) return hwDefaultClock;
  // A value not to trust (a hand-edited or damaged file) counts as absent: the
  // default clock is the only safe answer, and start-up must not fail on it.
  return StoredSafeFreq().value_or(hwDefaultClock);
}

std::optional<double> MSupport::StoredSafeFreq() const {
  const std::optional<double> value = PositiveClock(ReadSettingString(kOverclockSection, kKeySafeFreq));
  if (!value.has_value()) return std::nullopt;
  if (hwDefaultClock > 0.0 && *value > hwDefaultClock * kHighestSafeFactor) return std::nullopt;
  // A clock the PLL cannot make would be clamped to its fastest: a recovery
  // stepping down from there would try that same clock again and again.
  if (clockGenerator != nullptr && *value > clockGenerator->GetHighestFsb()) return std::nullopt;
  return value;
}

void MSupport::ClearSafeFreq() const { WriteSafeFreq(std::nullopt); }

void MSupport::SaveHwDefaultClock(double clock) const {
  WriteSettingString(kOverclockSection, kKeyHwDefCpuClk, FloatToText(clock));
}

double MSupport::LoadHwDefaultClock() const {
  // Absent, empty and unreadable all mean "not recorded", so the next start
  // records the present default afresh.
  return TextToFloat(ReadSettingString(kOverclockSection, kKeyHwDefCpuClk)).value_or(0.0);
}

std::optional<double> MSupport::RecordedHwDefaultClock() const {
  return PositiveClock(ReadSettingString(kOverclockSection, kKeyHwDefCpuClk));
}

bool MSupport::HwDefaultClockChanged() const {
  // Only a record that reads as a clock can tell of a change: a damaged line must
  // not cost the user the safe clock.
  const std::optional<double> recorded = RecordedHwDefaultClock();
  return recorded.has_value() && std::trunc(*recorded) != std::trunc(hwDefaultClock);
}

double MSupport::ReadHwDefaultClock() const {
  const double reported = clockGenerator->GetDefaultFsb();
  if (clockGenerator->ReportsPowerOnFsb()) return reported;
  // This part only knows the bus class of the clock it runs at now, which is the
  // power-on clock only until the first change: a run that ended across a class
  // boundary would otherwise change the default. The record of the first start
  // is the better witness.
  const std::optional<double> recorded = RecordedHwDefaultClock();
  if (recorded.has_value() && *recorded >= reported / kRecordedDefaultFactor &&
      *recorded <= reported * kRecordedDefaultFactor) {
    return *recorded;
  }
  return reported;
}

void MSupport::RecordHwDefaultClock() const {
  const std::optional<double> recorded = RecordedHwDefaultClock();
  if (recorded.has_value() && std::trunc(*recorded) == std::trunc(hwDefaultClock)) return;
  // A changed processor or board setting forgets the old safe clock; an absent or
  // unreadable record is only written afresh.
  if (recorded.has_value()) ClearSafeFreq();
  SaveHwDefaultClock(hwDefaultClock);
}

double MSupport::RecoveryClock() const {
  const std::optional<double> safe = StoredSafeFreq();
  if (!GetRecoverToDef() && safe.has_value() && *safe - kRecoveryBackoffMhz > hwDefaultClock) {
    return *safe - kRecoveryBackoffMhz;
  }
  return hwDefaultClock;
}

void MSupport::RestoreClockAtStartUp() {
  hwDefaultClock = ReadHwDefaultClock();
  RecordHwDefaultClock();
  if (GetInWatch()) {
    double target = RecoveryClock();
    // The attempt is the new safe clock before the chip sees it: should the board
    // not survive it either, the next start steps below it instead of trying the
    // same clock at every start for ever. An attempt that cannot be recorded is
    // not made above the default.
    if (!WriteSafeFreq(FloatToText(target))) target = hwDefaultClock;
    if (!ChangeFsb(target, true)) return;
    // Only a clock read back may become the safe clock.
    if (RefreshClocks()) SaveSafeFreq();
    // The restored clock itself is still under watch for ten seconds; the mark
    // stays until the watchdog thread disarms, so a hang at the restored clock is
    // recovered again (lower still) instead of being taken for a clean run.
    if (!WatchdogRunning()) SetInWatch(false);
  } else {
    ChangeFsb(GetSafeFreq(false), true);
  }
}

bool MSupport::ResetToDefaultClock() {
  // Refused: the clock stays where it was, and so do the voltages that carry it.
  if (!ChangeFsb(hwDefaultClock, true)) return false;
  if (RefreshClocks()) SaveSafeFreq();
  ApplyVoltShift(false);
  SetNoShowOverClkMsg(false);
  return true;
}

DisableWDThread* MSupport::WatchdogThread() const {
  std::lock_guard lock(watchdogMutex_);
  return watchdogThread_.get();
}

bool MSupport::WatchdogRunning() const {
  std::lock_guard lock(watchdogMutex_);
  return watchdogThread_ != nullptr && watchdogThread_->Running();
}

void MSupport::StopWatchdogThread() {
  std::lock_guard lock(watchdogMutex_);
  if (watchdogThread_ != nullptr && watchdogThread_->Running()) watchdogThread_->Stop();
}

}  // namespace rq::engine
