#pragma once
#include <QLabel>
#include <functional>

#include "app/Forms.h"
#include "app/ImageButton.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

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
  void Step(ImageButton& panel, double megahertz);
  void StartVerification(VerifyKind kind);

  engine::MSupport& system_;
  Checks checks_;
};

}  // namespace rq::app
