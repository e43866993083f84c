#pragma once
#include <array>
#include <atomic>
#include <optional>
#include <string>

#include "engine/MSupport.h"
#include "engine/SensorAlarms.h"
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
// pass is success; a hang is caught by the watchdog. A temperature past its alarm
// limit (read once a second) ends the pass at once as a failed pass.
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
  // Why the pass failed: the temperature that went past its limit, as a sentence
  // ("CPU Temp 71 C is above its limit of 60 C"); nothing for a pass that did not.
  const std::optional<std::string>& Overheated() const { return overheated_; }
  // Cancelled or overheated: the clock under test was not proven.
  bool Failed() const { return Cancelled() || overheated_.has_value(); }
  // Programs that did start, in start order (for tests and diagnostics).
  const std::vector<VerifyEnvironment::ProcessId>& Started() const { return started_; }

 protected:
  void Execute() override;

 private:
  bool StopRequested() const { return Failed() || abort_ || Terminated(); }
  // Waits `seconds` in one-second steps, each followed by a look at the temperatures.
  void WaitWatchingTemperatures(int seconds, const std::function<bool()>& stop);
  void CheckTemperatures();
  void StartPrograms();
  void ClosePrograms();

  engine::MSupport& support_;
  VerifyEnvironment& env_;
  const std::atomic<bool>& abort_;
  std::atomic<int> cancel_{0};
  engine::SensorAlarms alarms_;
  // Written by the pass's thread before it ends; read once it has.
  std::optional<std::string> overheated_;
  std::vector<VerifyEnvironment::ProcessId> started_;
};

}  // namespace rq::verify
