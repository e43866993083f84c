#pragma once
#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace rq::engine {
class MSupport;
}

namespace rq::app {

// The recovery option: what the start after a fail-safe reboot restores. Every
// click in the group writes RecoverToDef at once; OK only closes.
class TRecoveryDlg : public QDialog {
 public:
  TRecoveryDlg(QWidget* owner, engine::MSupport& system);

  int ItemIndex() const { return group_.checkedId(); }

  QLabel* Label1;
  QGroupBox* RadioGroup1;
  QPushButton* Button1;

 private:
  void RadioGroup1Click(int index);

  engine::MSupport& system_;
  QButtonGroup group_;
};

}  // namespace rq::app
