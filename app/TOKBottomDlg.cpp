#include "app/TOKBottomDlg.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Forms.h"

namespace rq::app {

TOKBottomDlg::TOKBottomDlg(QWidget* owner) : QDialog(owner) {
  setObjectName("OKBottomDlg");
  Bevel = new QFrame(this);
  Bevel->setFrameShape(QFrame::Panel);
  Bevel->setFrameShadow(QFrame::Sunken);
  Memo1 = new QPlainTextEdit(Bevel);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont bold = Memo1->font();
  bold.setBold(true);
  Memo1->setFont(bold);
  QPalette colours = Memo1->palette();
  colours.setColor(QPalette::Base, colours.color(QPalette::ToolTipBase));
  colours.setColor(QPalette::Text, colours.color(QPalette::ToolTipText));
  Memo1->setPalette(colours);
  auto* bevelLayout = new QVBoxLayout(Bevel);
  bevelLayout->setContentsMargins(4, 4, 4, 4);
  bevelLayout->addWidget(Memo1);

  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Bevel, 1);
  layout->addLayout(buttons);
  FixDialogSize(*this, 370);
  setFixedHeight(227);
}

void TOKBottomDlg::AddLine(const QString& line) { Memo1->appendPlainText(line); }

void TOKBottomDlg::showEvent(QShowEvent* event) {
  // Centred on the owner form.
  if (QWidget* owner = parentWidget()) {
    const QRect frame = owner->frameGeometry();
    move(frame.center() - rect().center());
  }
  Memo1->moveCursor(QTextCursor::Start);
  OKBtn->setFocus();
  QDialog::showEvent(event);
}

}  // namespace rq::app
