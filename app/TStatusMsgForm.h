#pragma once
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace rq::app {

// The status window of a running test pass: stays on top, centred on the desktop;
// its Cancel button sets the cancel flag of the test pass that showed it (`cancel`).
class TStatusMsgForm : public QWidget {
  Q_OBJECT
 public:
  TStatusMsgForm(QWidget* owner, std::function<void()> cancel);

  void BtnCancelClick();

  QLabel* Label1;
  QLabel* Label2;
  QPushButton* BtnCancel;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::function<void()> cancel_;
};

}  // namespace rq::app
