#pragma once
#include <QDialog>
#include <QPushButton>

namespace rq::app {

// The one-time note on changing the clock by hand.
class TOverClkMsgForm : public QDialog {
 public:
  explicit TOverClkMsgForm(QWidget* owner);

  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace rq::app
