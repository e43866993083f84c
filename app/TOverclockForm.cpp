#include "app/TOverclockForm.h"

#include <QApplication>
#include <QScreen>

#include "app/Format.h"
#include "app/HardwareJobs.h"
#include "app/Modal.h"
#include "app/TMainForm.h"
#include "app/TOKBottomDlg.h"
#include "app/TRecoveryDlg.h"
#include "engine/MSupport.h"
#include "platform/GraphicsCheck.h"
#include "platform/MessageBox.h"
#include "verify/VerifyThreads.h"

namespace rq::app {
namespace {

constexpr QSize kOverclockSize(245, 350);
constexpr int kLowestColourDepth = 16;

const char* const kNoteAuto =
    "[ Note: For getting the best over clock performance, utility will repeat the testing loop - Over clock, "
    "Test and Verify until the system hang or fail.Then system will AUTO-REBOOT and AUTO-RESTORE to a safest "
    "and best performance clock frequency. User don't need to do any operation. ]";
const char* const kNoteVerify =
    "[ Note: If the system hang or fail in the testing procedures, system will AUTO-REBOOT and AUTO-RESTORE "
    "to a  more safe clock frequency. User don't need to do any operation. ]";

// A step or reset runs with the panel busy: hourglass and no clicks until it has
// ended, then the focus back.
void MarkBusy(ImageButton& panel) {
  panel.setCursor(Qt::WaitCursor);
  panel.setEnabled(false);
}

void MarkDone(ImageButton& panel) {
  panel.setEnabled(true);
  panel.setFocus();
  panel.setCursor(Qt::PointingHandCursor);
}

}  // namespace

TOverclockForm::TOverclockForm(engine::MSupport& system) : TOverclockForm(system, Checks{}) {}

TOverclockForm::TOverclockForm(engine::MSupport& system, Checks checks)
    : TPanelForm("Over Clock", "OverClockBk.png", "OverClockBackGrnd", kOverclockSize),
      system_(system),
      checks_(std::move(checks)),
      hardware_(HardwareJobs::Shared()) {
  setObjectName("OverclockForm");
  Background()->setObjectName("OvClkBkImage");
  if (!checks_.graphicsLibrariesPresent)
    checks_.graphicsLibrariesPresent = &platform::GraphicsLibrariesPresent;
  if (!checks_.colourDepth) {
    checks_.colourDepth = [this] {
      const QScreen* desktop = screen() ? screen() : QGuiApplication::primaryScreen();
      return desktop ? desktop->depth() : 0;
    };
  }
  if (!checks_.startVerification) {
    checks_.startVerification = [](VerifyKind kind) {
      verify::Verification* verification = AppForms().verification;
      if (!verification) return false;
      return kind == VerifyKind::Automatic ? verification->StartAuto() : verification->StartSingle();
    };
  }
  AppForms().overclockForm = this;

  lblNewCPUClk = MakeLabel(this, "lblNewCPUClk", "0", QRect(22, 56, 150, 42), LabelStyle::ReadoutLarge,
                           Qt::AlignRight | Qt::AlignVCenter);
  lblNewCPUClk->setToolTip("Current CPU Clock.");

  DecrMore = AddButton("DecrMore", "DecrMore", "Decrease CPU Clock by 3 MHz.", {27, 118},
                       &TOverclockForm::DecrMoreClick);
  Decr = AddButton("Decr", "Decr", "Decrease CPU Clock by 1 MHz", {81, 118}, &TOverclockForm::DecrClick);
  Incr = AddButton("Incr", "Incr", "Increase CPU Clock by 1 MHz", {135, 118}, &TOverclockForm::IncrClick);
  IncrMore = AddButton("IncrMore", "IncrMore", "Increase CPU Clock by 3 MHz", {189, 118},
                       &TOverclockForm::IncrMoreClick);
  Auto = AddButton("Auto", "Auto", "Auto select the best CPU speed.", {27, 184}, &TOverclockForm::AutoClick);
  Verify = AddButton("Verify", "Verify", "Verify current CPU speed and then save the setting if successful.",
                     {27, 224}, &TOverclockForm::VerifyClick);
  Recovery =
      AddButton("Recovery", "Recov", "Select Recovery Options...", {27, 264}, &TOverclockForm::RecoveryClick);
  Reset = AddButton("Reset", "Reset", "Reset to System Default Settings.", {27, 304},
                    &TOverclockForm::ResetClick);
  ShowClock();
}

TOverclockForm::~TOverclockForm() {
  hardware_->Finish();
  if (AppForms().overclockForm == this) AppForms().overclockForm = nullptr;
}

ImageButton* TOverclockForm::AddButton(const char* name, const char* pictures, const char* hint, QPoint at,
                                       void (TOverclockForm::*click)()) {
  auto* button = new ImageButton(this, name, pictures, hint);
  button->move(at);
  connect(button, &ImageButton::MouseDown, button, &ImageButton::ShowDown);
  connect(button, &ImageButton::MouseUp, button, &ImageButton::ShowUp);
  connect(button, &ImageButton::Click, this, [this, click] { (this->*click)(); });
  return button;
}

void TOverclockForm::ShowClock() { lblNewCPUClk->setText(FormatGeneral(system_.fsbClock)); }

void TOverclockForm::RunOnHardware(ImageButton& panel, std::function<void()> work,
                                   std::function<void()> show) {
  MarkBusy(panel);
  const bool started = hardware_->Start(std::move(work), [&panel, show](std::exception_ptr error) {
    show();
    MarkDone(panel);
    if (error) std::rethrow_exception(error);
  });
  if (!started) MarkDone(panel);
}

void TOverclockForm::FinishHardwareWork() { hardware_->Finish(); }

bool TOverclockForm::HardwareIdle() const { return hardware_->Idle(); }

void TOverclockForm::ShowClocks() {
  ShowClock();
  if (TMainForm* main = AppForms().mainForm) main->RefreshReadouts();
}

void TOverclockForm::Step(ImageButton& panel, double megahertz) {
  RunOnHardware(
      panel,
      [this, megahertz] {
        // From the clock as it is when the step runs, so quick clicks add up. Unbounded
        // on purpose: a step the board cannot take hangs it, and the watchdog armed by
        // the change brings it back. A refused change left the clock as it was; the
        // user has been told why.
        if (!system_.ChangeFsb(system_.fsbClock + megahertz, true)) return;
        system_.RefreshClocks();
      },
      [this] { ShowClocks(); });
}

void TOverclockForm::DecrMoreClick() { Step(*DecrMore, -3); }
void TOverclockForm::DecrClick() { Step(*Decr, -1); }
void TOverclockForm::IncrClick() { Step(*Incr, +1); }
void TOverclockForm::IncrMoreClick() { Step(*IncrMore, +3); }

void TOverclockForm::AutoClick() { StartVerification(VerifyKind::Automatic); }
void TOverclockForm::VerifyClick() { StartVerification(VerifyKind::Single); }

void TOverclockForm::StartVerification(VerifyKind kind) {
  TOKBottomDlg warning(this);
  warning.setWindowTitle("Warning!");
  warning.AddLine("Before you proceed, please close all other running applications first.");
  warning.AddLine("");
  warning.AddLine(
      "Utility will launch a series of testing procedures. Please don't do any operations to interfere the "
      "testing procesures.");
  warning.AddLine("");
  warning.AddLine(kind == VerifyKind::Automatic ? kNoteAuto : kNoteVerify);
  warning.AddLine("");
  warning.AddLine("Do you want to proceed?");
  if (ExecModal(warning) != QDialog::Accepted) return;

  if (!checks_.graphicsLibrariesPresent()) {
    platform::MessageBox(
        "Testing Program will use DirectX features, so please install DirectX 8.0 or above first!", "Warning",
        platform::kMbIconInformation);
    return;
  }
  if (checks_.colourDepth() < kLowestColourDepth) {
    platform::MessageBox(
        "Test procedure needs to run under High Color(16 bit color depth) or above. Please change the "
        "current "
        "color depth befor running the testing procedure.",
        "Warning", platform::kMbIconInformation);
    return;
  }
  auto start = [this, kind] {
    if (!checks_.startVerification(kind)) {
      platform::MessageBox("A verification is already running or cannot be started.", "Warning",
                           platform::kMbIconInformation);
    }
  };
  // A step still under way ends before the verification changes the clock itself.
  if (HardwareIdle()) {
    start();
  } else {
    hardware_->Start([] {}, [start](std::exception_ptr) { start(); });
  }
}

void TOverclockForm::RecoveryClick() {
  TRecoveryDlg dialog(this, system_);
  ExecModal(dialog);
}

void TOverclockForm::ResetClick() {
  RunOnHardware(
      *Reset, [this] { system_.ResetToDefaultClock(); },
      [this] {
        ShowClocks();
        if (const auto& refresh = AppForms().refreshVoltageWindow) refresh();
      });
}

}  // namespace rq::app
