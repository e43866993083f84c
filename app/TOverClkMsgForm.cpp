#include "app/TOverClkMsgForm.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "app/Forms.h"
#include "app/Skins.h"

namespace rq::app {
namespace {

QLabel* Text(QWidget* parent, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

QLabel* Picture(QWidget* parent, const QString& name) {
  auto* label = new QLabel(parent);
  label->setObjectName("img" + name + "Up");
  label->setPixmap(QPixmap(":/button/" + name + "Up.png"));
  label->setFixedSize(30, 30);
  return label;
}

}  // namespace

TOverClkMsgForm::TOverClkMsgForm(QWidget* owner) : QDialog(owner) {
  LoadSkins();
  setObjectName("OverClkMsgForm");
  setWindowTitle("NOTE for Manually Modifying Freq. Setting");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text(this, "After you using the Increase or Decrease buttons"));
  auto* steps = new QHBoxLayout;
  steps->addStretch();
  for (const char* name : {"DecrMore", "Decr", "Incr", "IncrMore"}) steps->addWidget(Picture(this, name));
  steps->addStretch();
  layout->addLayout(steps);
  layout->addWidget(
      Text(this, "to manually modify the frequencies, please remember to use the Verify button"));
  auto* verify = new QHBoxLayout;
  verify->addStretch();
  verify->addWidget(Picture(this, "Verify"));
  verify->addStretch();
  layout->addLayout(verify);
  layout->addWidget(
      Text(this,
           "to verify the setting. Only after the verify procedure is successfully completed, the "
           "modified frequency setting will be saved."));
  layout->addWidget(
      Text(this, "( Auto Select Frequency will automatically save the settings for you while verifying. )"));
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(Button1, 0, Qt::AlignHCenter);
  FixDialogSize(*this, 400);
}

void TOverClkMsgForm::showEvent(QShowEvent* event) {
  if (QScreen* desktop = QGuiApplication::primaryScreen()) {
    adjustSize();
    move(desktop->geometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

}  // namespace rq::app
