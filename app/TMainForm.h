#pragma once
#include <QLabel>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

#include "app/Animation.h"
#include "app/Forms.h"
#include "app/ImageButton.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

class CheckExitThread;

// The main window: the read-outs, the exit button and the four buttons that slide
// the panels out; it places and drags every window of the program.
class TMainForm : public SkinnedForm {
 public:
  struct Options {
    // The pause between two steps of a sliding panel; by default the windows are
    // redrawn and the thread sleeps.
    std::function<void(int ms)> sleep;
    // Where the speed animations lie; by default beside the program.
    QString animationDir;
  };

  explicit TMainForm(engine::MSupport& system);
  TMainForm(engine::MSupport& system, Options options);
  ~TMainForm() override;

  void FormShow();
  // Stops the exit thread, an automatic search and a running watchdog; always
  // allows closing, and within a bound whatever the driver daemon does
  // (MSupport::BeginClosing).
  void FormCloseQuery();
  void MainBkImageMouseDown(const QPoint& globalPos);
  void MainBkImageMouseMove(const QPoint& globalPos);
  void ExitClick();
  void ExitMouseDown();
  void ExitMouseUp();
  void AboutClick();
  void OverClockClick();
  void VoltageClick();
  void HwMonitorClick();

  // Shows the system object's clocks, CPU speed and overclock percentage.
  void RefreshReadouts();

  // Where a panel sits closed (centred behind this window) and open.
  QPoint ClosedPosition(const QWidget& panel) const;
  QPoint OpenPosition(const QWidget& panel, bool toTheLeft) const;

  QLabel* lblCPUSpeed;
  QLabel* lblCPUClock;
  QLabel* lbl3V66;
  QLabel* lblPCIClock;
  QLabel* lblMemClk;
  QLabel* lblOverclkPercent;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label6;
  AnimationPlayer* Animate1;
  ImageButton* Exit;
  ImageButton* About;
  ImageButton* OverClock;
  ImageButton* Voltage;
  ImageButton* HwMonitor;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  // Opens or closes `panel`; `partner` (the other panel on the same side) is closed
  // first when `panel` opens.
  void TogglePanel(TPanelForm* panel, ImageButton& button, TPanelForm* partner, ImageButton& partnerButton,
                   bool toTheLeft);
  void Slide(QWidget& panel, const QPoint& target);
  std::vector<QWidget*> Panels() const;

  engine::MSupport& system_;
  Options options_;
  std::unique_ptr<CheckExitThread> checkExitThread_;
  QPoint lastMouse_;
  bool shown_ = false;
  bool closing_ = false;
};

}  // namespace rq::app
