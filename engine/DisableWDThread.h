#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "devices/clockgen/I2cClockGenIo.h"
#include "engine/Timing.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

namespace rq::engine {

// Owns the clock generator's hardware watchdog while a clock change may still hang
// the machine. It arms the watchdog, marks InWatch = 1, and disarms (InWatch = 0)
// after ten quiet seconds, or only when terminated if auto-disarm is off.
//
// Hand-over is synchronous: the caller of a clock change learns that the watchdog is
// armed and the mark is on disk before it touches the clock generator, and a change
// that arrives while the thread is already disarming is refused, so the caller
// starts a fresh thread instead of programming an unwatched clock. A mark that
// cannot be written ends the thread at once, disarmed: a change it would watch
// could hang the machine with nothing on disk to recover from. A watch clears the
// mark only if it set it: one that found the mark held by a live watch of another
// process leaves it to that watch.
class DisableWDThread : public platform::WorkerThread {
 public:
  // What writing InWatch = 1 did.
  enum class Mark { Failed, Set, HeldElsewhere };

  static constexpr int kWatchdogSeconds = 40;
  static constexpr int kCountReload = 10;
  static constexpr std::uint32_t kTickMs = 1000;

  // `writeInWatch(true)` stores the mark durably and answers how; `writeInWatch(false)`
  // clears it (its answer is not used). `clockGenerator` may be null (nothing is
  // armed then, but the mark is still kept).
  DisableWDThread(devices::I2cClockGenIo* clockGenerator, std::function<Mark(bool)> writeInWatch,
                  Timing& timing);
  ~DisableWDThread() override;

  bool Running() const { return running_.load(); }
  bool AutoDisarm() const { return autoDisarm_.load(); }
  void SetAutoDisarm(bool on) { autoDisarm_ = on; }

  // Blocks until the watchdog is armed and InWatch = 1 is written; false when the
  // thread ended (or was never started) without arming.
  bool WaitUntilArmed();
  // True when the thread ended because InWatch = 1 could not be written.
  bool MarkFailed() const { return markFailed_.load(); }
  // Hands one more change to the running thread: it re-arms the watchdog and
  // restarts its count. Blocks until that re-arming is done. False when the thread
  // has begun to disarm or has ended; the caller must then start a new thread.
  bool Rearm(bool autoDisarm);
  // Terminates and waits: the watchdog is disarmed and InWatch = 0 written.
  void Stop();

 protected:
  void Execute() override;

 private:
  void Arm();

  devices::I2cClockGenIo* clockGenerator_;
  std::function<Mark(bool)> writeInWatch_;
  Timing& timing_;
  platform::Event event_;  // auto-reset: one signal per handed-over change
  std::atomic<bool> running_{false};
  std::atomic<bool> autoDisarm_{true};
  std::atomic<bool> markFailed_{false};
  bool markSet_ = false;  // this watch wrote the mark (only the thread uses it)

  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool accepting_ = false;  // armed and not yet disarming
  bool ended_ = false;
  std::uint64_t requested_ = 0;
  std::uint64_t acknowledged_ = 0;
};

}  // namespace rq::engine
