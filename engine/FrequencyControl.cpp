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

}  // namespace

void MSupport::ChangeFsb(double target, bool autoDisarm) {
  std::lock_guard lock(watchdogMutex_);
  bool armed = watchdogThread_ != nullptr && watchdogThread_->Running() && watchdogThread_->Rearm(autoDisarm);
  if (!armed) {
    // The previous thread has ended or is disarming: let it finish (its InWatch = 0
    // lands before the new thread's 1), then watch this change with a fresh one.
    if (watchdogThread_ != nullptr) watchdogThread_->Stop();
    watchdogThread_ = std::make_unique<DisableWDThread>(
        clockGenerator.get(), [this](bool on) { SetInWatch(on); }, Clock());
    watchdogThread_->SetAutoDisarm(autoDisarm);
    watchdogThread_->Start();
    watchdogThread_->SetPriority(platform::ThreadPriority::AboveNormal);
    watchdogThread_->WaitUntilArmed();
  }
  Clock().Sleep(kSettleMs);
  if (clockGenerator != nullptr) clockGenerator->SetFsb(target);
}

void MSupport::RefreshClocks() {
  if (clockGenerator != nullptr) {
    fsbClock = clockGenerator->GetFsb();
    agpClock = clockGenerator->GetAgpClock(fsbClock);
    pciClock = clockGenerator->GetPciClock(fsbClock);
  }
  if (northBridge != nullptr) memoryClock = northBridge->GetMemoryClock(fsbClock);
}

int MSupport::GetOverclockPercent() const {
  if (hwDefaultClock == 0.0) return 100;
  return static_cast<int>(devices::RoundTo(fsbClock * 100.0 / hwDefaultClock, 0));
}

void MSupport::SaveSafeFreq() const {
  if (devices::RoundTo(hwDefaultClock, 0) <= devices::RoundTo(fsbClock, 0)) {
    WriteSettingString(kOverclockSection, kKeySafeFreq, FloatToText(fsbClock));
  }
}

double MSupport::GetSafeFreq(bool useDefault) const {
  if (useDefault) return hwDefaultClock;
  const std::string text = ReadSettingString(kOverclockSection, kKeySafeFreq);
  // A value that is not a number (a hand-edited or damaged file) counts as absent:
  // the default clock is the only safe answer, and start-up must not fail on it.
  const std::optional<double> value = TextToFloat(text);
  return value.has_value() ? *value : hwDefaultClock;
}

void MSupport::ClearSafeFreq() const { WriteSettingString(kOverclockSection, kKeySafeFreq, std::nullopt); }

void MSupport::SaveHwDefaultClock(double clock) const {
  WriteSettingString(kOverclockSection, kKeyHwDefCpuClk, FloatToText(clock));
}

double MSupport::LoadHwDefaultClock() const {
  // Absent, empty and unreadable all mean "not recorded", so the next start
  // records the present default afresh.
  return TextToFloat(ReadSettingString(kOverclockSection, kKeyHwDefCpuClk)).value_or(0.0);
}

bool MSupport::HwDefaultClockChanged() const {
  return std::trunc(LoadHwDefaultClock()) != std::trunc(hwDefaultClock);
}

void MSupport::RestoreClockAtStartUp() {
  hwDefaultClock = clockGenerator->GetDefaultFsb();
  if (HwDefaultClockChanged()) {
    ClearSafeFreq();
    SaveHwDefaultClock(hwDefaultClock);
  }
  if (GetInWatch()) {
    const double safe = GetSafeFreq(false);
    if (!GetRecoverToDef() && safe - kRecoveryBackoffMhz > hwDefaultClock) {
      ChangeFsb(safe - kRecoveryBackoffMhz, true);
    } else {
      ChangeFsb(hwDefaultClock, true);
    }
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
