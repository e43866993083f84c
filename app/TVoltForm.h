#pragma once
#include <QLabel>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/Forms.h"

namespace rq::engine {
class MSupport;
}

namespace rq::app {

class HardwareJobs;

// A panel holding a two-state picture pair (`<pictures>On` and `<pictures>Off`);
// a left click inside, Space or Return calls `onClick`.
class YesNoPanel : public QWidget {
 public:
  YesNoPanel(QWidget* parent, const QString& name, const QString& pictures);

  // Shows the "On" picture when `on`, else the "Off" one.
  void ShowOn(bool on);
  QLabel* OnPicture() const { return on_; }
  QLabel* OffPicture() const { return off_; }

  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* on_;
  QLabel* off_;
  bool pressed_ = false;
};

// The voltage panel: raises the core and memory voltages by the controller's fixed
// step (Yes) or takes them back together with the clock (No, after a warning), and
// shows both voltages. The choice is the VoltShift setting.
class TVoltForm : public TPanelForm {
 public:
  explicit TVoltForm(engine::MSupport& system);
  ~TVoltForm() override;

  void btnYesClick();
  void btnNoClick();

  // The state as VoltShift holds it and the voltages the system object last read.
  void Refresh();
  // Yes on (raised) or off.
  void ShowState(bool raised);
  bool StateOn() const { return raised_; }
  void ShowVoltages();

  // Closing calls this before the watchdog is stopped: the running change ends,
  // queued ones are dropped.
  void FinishHardwareWork();
  bool HardwareIdle() const;

  QLabel* Image1;
  QLabel* lblVoltCore;
  QLabel* Label1;  // "Volts" after the core voltage
  QLabel* lblVoltDimm;
  QLabel* Label2;  // "Volts" after the memory voltage
  YesNoPanel* btnYes;
  QLabel* imgYesOn;
  QLabel* imgYesOff;
  YesNoPanel* btnNo;
  QLabel* imgNoOn;
  QLabel* imgNoOff;

 private:
  // Runs `work` on the hardware worker with the hourglass shown and the pair taking
  // no clicks; `show` then runs on the window thread.
  void RunOnHardware(std::function<void()> work, std::function<void()> show);
  void MarkDone();

  engine::MSupport& system_;
  std::shared_ptr<HardwareJobs> hardware_;
  bool raised_ = false;
  bool busy_ = false;
};

}  // namespace rq::app
