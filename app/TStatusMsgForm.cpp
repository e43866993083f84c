#include "app/TStatusMsgForm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/Forms.h"

namespace rq::app {

// A dialog rather than a plain window: window managers offer a dialog of fixed size
// neither minimise nor maximise, and it has no close button (Cancel ends the pass).
TStatusMsgForm::TStatusMsgForm(QWidget* owner, std::function<void()> cancel)
    : QWidget(owner, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      cancel_(std::move(cancel)) {
  setObjectName("StatusMsgForm");
  setWindowTitle("Testing...");
  Label1 = new QLabel("Please do not do any action to interfere the testing procedure.", this);
  Label2 = new QLabel(
      "[Note] If system fails when testing, utility will automatically reboot system. The reboot procedure "
      "may take several minutes.",
      this);
  Label1->setObjectName("Label1");
  Label2->setObjectName("Label2");
  // A font wider than the design's wraps instead of cutting the line.
  Label1->setWordWrap(true);
  Label2->setWordWrap(true);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  BtnCancel = new QPushButton("&Cancel", this);
  BtnCancel->setObjectName("BtnCancel");
  connect(BtnCancel, &QPushButton::clicked, this, [this] { BtnCancelClick(); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(Label2);
  layout->addWidget(BtnCancel, 0, Qt::AlignHCenter);
  FixDialogSize(*this, 420, false);
}

void TStatusMsgForm::BtnCancelClick() {
  if (cancel_) cancel_();
  BtnCancel->setEnabled(false);  // one press is enough; the pass is ending
}

void TStatusMsgForm::showEvent(QShowEvent* event) {
  if (QScreen* desktop = QGuiApplication::primaryScreen()) {
    adjustSize();
    move(desktop->geometry().center() - rect().center());
  }
  QWidget::showEvent(event);
}

}  // namespace rq::app
