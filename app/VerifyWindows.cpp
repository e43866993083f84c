#include "app/VerifyWindows.h"

#include "app/TMainForm.h"
#include "app/TOverclockForm.h"
#include "app/TStatusMsgForm.h"
#include "app/TVoltForm.h"
#include "platform/MessageBox.h"
#include "platform/WindowThread.h"
#include "verify/VerifySystem.h"

namespace rq::app {

void VerifyWindows::SetWindowsEnabled(bool enabled) {
  platform::Synchronize([enabled] {
    if (TMainForm* main = AppForms().mainForm) main->setEnabled(enabled);
    // The panels are enabled only while they are slid out. The voltage panel goes
    // too: its No takes the clock back, which would pull it from under the pass.
    for (TPanelForm* panel : {static_cast<TPanelForm*>(AppForms().overclockForm),
                              static_cast<TPanelForm*>(AppForms().voltForm)}) {
      if (panel != nullptr) panel->setEnabled(enabled && panel->open);
    }
  });
}

void VerifyWindows::UpdateClockLabel() {
  platform::Synchronize([] {
    if (TOverclockForm* overclock = AppForms().overclockForm) overclock->ShowClock();
    if (TMainForm* main = AppForms().mainForm) main->RefreshReadouts();
  });
}

void VerifyWindows::ShowStatusWindow(verify::VerifySystem& pass) {
  platform::Synchronize([this, &pass] {
    delete status_;
    // Owned by the main window. The pass outlives it: the pass closes the window
    // itself, and once the program closes no input reaches the window any more.
    status_ = new TStatusMsgForm(AppForms().mainForm, [&pass] { pass.Cancel(); });
    status_->show();
    status_->raise();
    status_->activateWindow();
  });
}

void VerifyWindows::CloseStatusWindow() {
  platform::Synchronize([this] {
    delete status_;
    status_ = nullptr;
  });
}

void VerifyWindows::ShowVerifiedMessage() {
  platform::MessageBox("Current CPU clock has been verified successfully!", "Result",
                       platform::kMbIconInformation);
}

void VerifyWindows::ShowFailedMessage(const std::string& text) {
  platform::MessageBox(text, "Result", platform::kMbIconWarning);
}

}  // namespace rq::app
