// Clock changes under the watchdog, the derived clocks, the safe-clock bookkeeping
// and the restore after a hang.
#include <cmath>

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

// A clock read from the settings: a finite number above 0, else nothing.
std::optional<double> PositiveClock(const std::string& text) {
  const std::optional<double> value = TextToFloat(text);
  if (!value.has_value() || *value <= 0.0) return std::nullopt;
  return value;
}

}  // namespace

bool MSupport::WriteWatchMark(bool on) const {
  // A disarm that went to a driver which no longer answers may not have reached
  // the chip: the watchdog can still fire, so the mark must stay for the next
  // start to recover from.
  if (!on && deviceHandle_ != nullptr && !deviceHandle_->Connected()) return false;
  return SetInWatch(on);
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

void MSupport::RefreshClocks() {
  if (clockGenerator != nullptr) {
    const devices::DerivedClocks clocks = clockGenerator->ReadClocks();
    fsbClock = clocks.fsb;
    agpClock = clocks.agp;
    pciClock = clocks.pci;
  }
  if (northBridge != nullptr) memoryClock = northBridge->GetMemoryClock(fsbClock);
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
    fsbClock = clockGenerator->GetFsb();
    SaveSafeFreq();
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
  RefreshClocks();
  SaveSafeFreq();
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
