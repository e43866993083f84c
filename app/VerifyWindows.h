#pragma once
#include "verify/DesktopEnvironment.h"

namespace rq::app {

class TStatusMsgForm;

// The windows' side of a verification: every change to a window (disabling the two
// windows, the clock label, the status window, the result message) is carried out
// on the window thread; the stress programs are the desktop environment's.
class VerifyWindows : public verify::DesktopEnvironment {
 public:
  VerifyWindows() = default;
  ~VerifyWindows() override = default;

  void SetWindowsEnabled(bool enabled) override;
  void UpdateClockLabel() override;
  void ShowStatusWindow(verify::VerifySystem& pass) override;
  void CloseStatusWindow() override;
  void ShowVerifiedMessage() override;
  void ShowFailedMessage(const std::string& text) override;

 private:
  // Touched on the window thread only.
  TStatusMsgForm* status_ = nullptr;
};

}  // namespace rq::app
