#pragma once
#include <array>
#include <atomic>

#include "engine/MSupport.h"
#include "platform/WorkerThread.h"
#include "verify/VerifyEnvironment.h"

namespace rq::verify {

// A stress program: the command that starts it and the title of its main window.
struct TestProgram {
  const char* commandLine;
  const char* windowTitle;
};

inline constexpr std::array<TestProgram, 3> kTestPrograms = {{
    {"Loomfield", "Testing Program"},
    {"Pallwick", "DirectDraw Testing Program"},
    {"Graniton", "DShow Testing"},
}};

// One test pass at the present clock: the clock applied afresh under an armed
// watchdog, the three stress programs for ten seconds (or until Cancel), then the
// programs closed, the watchdog stopped and the status window closed. Surviving the
// pass is success; a hang is caught by the watchdog.
class VerifySystem : public platform::WorkerThread {
 public:
  static constexpr std::uint32_t kStartupWaitMs = 4000;
  static constexpr int kTestSeconds = 10;
  // How long the programs get to close after their close request before they are
  // ended: a program whose window never appeared (or was hidden from us) must not
  // keep the pass, and with it both disabled windows, waiting forever.
  static constexpr int kCloseGraceSeconds = 15;

  // `abort` is the owner's stop flag: set when the program closes.
  VerifySystem(engine::MSupport& support, VerifyEnvironment& environment, const std::atomic<bool>& abort);
  ~VerifySystem() override;

  // The status window's Cancel button.
  void Cancel() { cancel_ = 1; }
  bool Cancelled() const { return cancel_ == 1; }
  // Programs that did start, in start order (for tests and diagnostics).
  const std::vector<VerifyEnvironment::ProcessId>& Started() const { return started_; }

 protected:
  void Execute() override;

 private:
  bool StopRequested() const { return Cancelled() || abort_ || Terminated(); }
  void StartPrograms();
  void ClosePrograms();

  engine::MSupport& support_;
  VerifyEnvironment& env_;
  const std::atomic<bool>& abort_;
  std::atomic<int> cancel_{0};
  std::vector<VerifyEnvironment::ProcessId> started_;
};

}  // namespace rq::verify
