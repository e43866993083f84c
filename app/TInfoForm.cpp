#include "app/TInfoForm.h"

#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr QSize kInfoSize(259, 200);
constexpr int kLeft = 20;
constexpr int kRight = 242;
constexpr int kRowHeight = 24;

void Describe(QLabel& label, const std::string& model, const std::string& description) {
  label.setText(QString::fromStdString(model));
  label.setToolTip(QString::fromStdString(description));
}

}  // namespace

TInfoForm::TInfoForm(engine::MSupport& system)
    : TPanelForm("About", "AboutBk.png", "AboutBackGrnd", kInfoSize) {
  setObjectName("InfoForm");
  AppForms().infoForm = this;

  Label6 = MakeLabel(this, "Label6", "Version : 0.9.7.6", QRect(kLeft, 38, kRight - kLeft, 20),
                     LabelStyle::Caption);
  // Each value starts right after its caption.
  auto row = [&](const char* captionName, const char* caption, const char* valueName, int y,
                 QLabel*& captionLabel, QLabel*& valueLabel) {
    captionLabel = MakeLabel(this, captionName, caption, QRect(kLeft, y, 10, 20), LabelStyle::Caption);
    captionLabel->adjustSize();
    captionLabel->setFixedHeight(20);
    const int valueLeft = kLeft + captionLabel->width() + 2;
    valueLabel =
        MakeLabel(this, valueName, "", QRect(valueLeft, y, kRight - valueLeft, 20), LabelStyle::Value);
  };
  row("Label1", "BIOS Model : ", "lblBIOSModel", 38 + kRowHeight, Label1, lblBIOSModel);
  row("Label9", "Memory Controller Hub : ", "lblMCH", 38 + 2 * kRowHeight, Label9, lblMCH);
  row("Label4", "Hardware Monitor : ", "lblHWMonitor", 38 + 3 * kRowHeight, Label4, lblHWMonitor);
  row("Label2", "Clock Generator : ", "lblClkGen", 38 + 4 * kRowHeight, Label2, lblClkGen);
  row("Label3", "Over Voltage : ", "lblOverClker", 38 + 5 * kRowHeight, Label3, lblOverClker);

  Describe(*lblBIOSModel, system.biosModel, "Mainboard BIOS Version");
  if (system.northBridge)
    Describe(*lblMCH, system.northBridge->GetModel(), system.northBridge->GetDescription());
  if (system.clockGenerator)
    Describe(*lblClkGen, system.clockGenerator->GetModel(), system.clockGenerator->GetDescription());
  if (system.overclockController) {
    Describe(*lblOverClker, system.overclockController->GetModel(),
             system.overclockController->GetDescription());
  } else if (system.gpioVoltage) {
    Describe(*lblOverClker, system.gpioVoltage->GetModel(), system.gpioVoltage->GetDescription());
  }
  if (system.hardwareMonitor)
    Describe(*lblHWMonitor, system.hardwareMonitor->GetModel(), system.hardwareMonitor->GetDescription());
}

TInfoForm::~TInfoForm() {
  if (AppForms().infoForm == this) AppForms().infoForm = nullptr;
}

}  // namespace rq::app
