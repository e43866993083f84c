#pragma once
#include <QLabel>
#include <functional>
#include <memory>

#include "app/Forms.h"
#include "app/ImageButton.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

class HardwareJobs;

enum class VerifyKind { Single, Automatic };

// The overclock panel: clock steps of 1 and 3 MHz, verification, the recovery
// option and the reset to hardware defaults. Every action is a call on the system
// object or the start of a verification thread.
class TOverclockForm : public TPanelForm {
 public:
  // What Auto and Verify consult before starting a verification thread.
  struct Checks {
    std::function<bool()> graphicsLibrariesPresent;  // default: the platform's library check
    std::function<int()> colourDepth;                // default: this window's screen
    // Starts the verification thread; false when none could be started.
    std::function<bool(VerifyKind)> startVerification;  // default: the program's verification
  };

  explicit TOverclockForm(engine::MSupport& system);
  TOverclockForm(engine::MSupport& system, Checks checks);
  ~TOverclockForm() override;

  // Shows the present CPU clock.
  void ShowClock();

  void DecrMoreClick();
  void DecrClick();
  void IncrClick();
  void IncrMoreClick();
  void AutoClick();
  void VerifyClick();
  void RecoveryClick();
  void ResetClick();

  // Steps and the reset run off the window thread, on the worker the voltage window
  // shares. Closing calls this before the watchdog is stopped: the running change
  // ends, queued ones are dropped.
  void FinishHardwareWork();
  bool HardwareIdle() const;

  QLabel* lblNewCPUClk;
  ImageButton* DecrMore;
  ImageButton* Decr;
  ImageButton* Incr;
  ImageButton* IncrMore;
  ImageButton* Auto;
  ImageButton* Verify;
  ImageButton* Recovery;
  ImageButton* Reset;

 private:
  ImageButton* AddButton(const char* name, const char* pictures, const char* hint, QPoint at,
                         void (TOverclockForm::*click)());
  // Runs `work` on the hardware worker with `panel` busy meanwhile; `show` then
  // runs on the window thread and the panel is given back.
  void RunOnHardware(ImageButton& panel, std::function<void()> work, std::function<void()> show);
  void ShowClocks();
  void Step(ImageButton& panel, double megahertz);
  void StartVerification(VerifyKind kind);

  engine::MSupport& system_;
  Checks checks_;
  std::shared_ptr<HardwareJobs> hardware_;  // shared with the voltage window
};

}  // namespace rq::app
