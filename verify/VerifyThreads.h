#pragma once
#include <atomic>
#include <memory>
#include <mutex>

#include "engine/MSupport.h"
#include "platform/WorkerThread.h"
#include "verify/VerifyEnvironment.h"

namespace rq::verify {

class VerifySystem;

// Base of the two verification threads: holds the pass in progress so that a
// stop request reaches it.
class VerifyThread : public platform::WorkerThread {
 public:
  VerifyThread(engine::MSupport& support, VerifyEnvironment& environment)
      : support_(support), env_(environment) {}
  // Ends the verification soon: the pass in progress stops its waiting at once.
  void RequestStop() {
    abort_ = true;
    Terminate();
  }

 protected:
  // Runs one pass to its end; the pass is returned for its cancel flag.
  std::unique_ptr<VerifySystem> RunPass();
  bool StopRequested() const { return abort_ || Terminated(); }
  // Sets the clock back (watchdog disarmed after its hold) and shows it.
  void ReturnClock(double clock);
  // Tells the user why an overheated pass failed; nothing for any other pass.
  void ReportOverheat(const VerifySystem& pass);

  engine::MSupport& support_;
  VerifyEnvironment& env_;
  std::atomic<bool> abort_{false};
};

// Verifies the present clock once and stores it as safe when the pass was neither
// cancelled nor stopped by a temperature alarm (which sets the clock back).
class SingleVerifyThread : public VerifyThread {
 public:
  using VerifyThread::VerifyThread;
  ~SingleVerifyThread() override;

 protected:
  void Execute() override;
};

// Raises the clock step by step, verifying each step and storing every clock that
// survives, until the user cancels, a temperature passes its alarm limit (both go
// back to the last good clock), or the machine hangs and the watchdog resets it.
class AutoVerifyThread : public VerifyThread {
 public:
  using VerifyThread::VerifyThread;
  ~AutoVerifyThread() override;
  // The next clock of the search: 2 MHz steps for the first 10 MHz above the
  // default, 1 MHz steps after that.
  static double NextClock(double present, double hardwareDefault);

 protected:
  void Execute() override;
};

// Owns the verification in progress (at most one). The program's windows start
// verifications through it and stop it when the program closes.
class Verification {
 public:
  Verification(engine::MSupport& support, VerifyEnvironment& environment)
      : support_(support), env_(environment) {}
  ~Verification() { Stop(); }

  // False when a verification is still running.
  bool StartSingle();
  bool StartAuto();
  bool Running() const;
  // Ends the running verification and waits for it (the program is closing).
  void Stop();

 private:
  bool Launch(std::unique_ptr<VerifyThread> thread);

  engine::MSupport& support_;
  VerifyEnvironment& env_;
  mutable std::mutex mutex_;
  std::unique_ptr<VerifyThread> thread_;
};

}  // namespace rq::verify
