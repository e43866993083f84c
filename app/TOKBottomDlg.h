#pragma once
#include <QDialog>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>

namespace rq::app {

// The OK/Cancel confirmation: a read-only text above the two buttons. Only OK gives
// an accepted result; Cancel, Escape and closing the dialog all reject.
class TOKBottomDlg : public QDialog {
 public:
  explicit TOKBottomDlg(QWidget* owner);

  // Adds one line (empty lines included) to Memo1.
  void AddLine(const QString& line);
  QString Text() const { return Memo1->toPlainText(); }

  QFrame* Bevel;
  QPlainTextEdit* Memo1;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace rq::app
