#include "app/TRecoveryDlg.h"

#include <QVBoxLayout>

#include "app/Forms.h"
#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr int kRestoreDefault = 0;
constexpr int kRestoreVerified = 1;

}  // namespace

TRecoveryDlg::TRecoveryDlg(QWidget* owner, engine::MSupport& system) : QDialog(owner), system_(system) {
  setObjectName("RecoveryDlg");
  setWindowTitle("Recovery Options");
  Label1 = new QLabel(
      "Please select a recovery option that will decide what kind of restoring you want to do after system "
      "fail-safe reboot.",
      this);
  Label1->setWordWrap(true);
  RadioGroup1 = new QGroupBox(" Options Group ", this);
  RadioGroup1->setObjectName("RadioGroup1");
  auto* first = new QRadioButton("Restore to Hardware Default CPU Clock Value", RadioGroup1);
  auto* second = new QRadioButton("Restore to the Previous Verified CPU Clock Value", RadioGroup1);
  group_.addButton(first, kRestoreDefault);
  group_.addButton(second, kRestoreVerified);
  auto* groupLayout = new QVBoxLayout(RadioGroup1);
  groupLayout->addWidget(first);
  groupLayout->addWidget(second);
  (system_.GetRecoverToDef() ? first : second)->setChecked(true);
  // Only a user's click writes the setting; the initial selection above does not.
  connect(&group_, &QButtonGroup::idClicked, this, [this](int index) { RadioGroup1Click(index); });

  Button1 = new QPushButton("&OK", this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(RadioGroup1);
  layout->addWidget(Button1, 0, Qt::AlignHCenter);
  FixDialogSize(*this, 380);
}

void TRecoveryDlg::RadioGroup1Click(int index) { system_.SetRecoverToDef(index == kRestoreDefault); }

}  // namespace rq::app
