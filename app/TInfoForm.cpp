#include "app/TInfoForm.h"

#include <QFontMetrics>

#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr QSize kInfoSize(259, 200);
constexpr int kLeft = 20;
constexpr int kRight = 242;

constexpr int kSmallestPixelSize = 8;

void Describe(QLabel& label, const std::string& model, const std::string& description) {
  label.setText(QString::fromStdString(model));
  label.setToolTip(QString::fromStdString(description));
  if (!label.wordWrap()) ShrinkToFit(label, label.font().pixelSize(), kSmallestPixelSize);
}

}  // namespace

TInfoForm::TInfoForm(engine::MSupport& system)
    : TPanelForm("About", "AboutBk.png", "AboutBackGrnd", kInfoSize) {
  setObjectName("InfoForm");
  AppForms().infoForm = this;

  Label6 = MakeLabel(this, "Label6", "Version : 0.9.7.6", QRect(kLeft, 38, kRight - kLeft, 18),
                     LabelStyle::Caption);
  // Each value starts right after its caption; the BIOS model may take two lines.
  auto row = [&](const char* captionName, const char* caption, const char* valueName, int y, int height,
                 QLabel*& captionLabel, QLabel*& valueLabel) {
    captionLabel = MakeLabel(this, captionName, caption, QRect(kLeft, y, 10, 18), LabelStyle::Caption,
                             Qt::AlignLeft | Qt::AlignTop);
    captionLabel->adjustSize();
    captionLabel->setFixedHeight(18);
    const int valueLeft = kLeft + captionLabel->width() + 2;
    valueLabel = MakeLabel(this, valueName, "", QRect(valueLeft, y, kRight - valueLeft, height),
                           LabelStyle::Value, Qt::AlignLeft | Qt::AlignTop);
    valueLabel->setWordWrap(height > 20);
  };
  row("Label1", "BIOS Model : ", "lblBIOSModel", 60, 32, Label1, lblBIOSModel);
  row("Label9", "Memory Controller Hub : ", "lblMCH", 96, 18, Label9, lblMCH);
  row("Label4", "Hardware Monitor : ", "lblHWMonitor", 118, 18, Label4, lblHWMonitor);
  row("Label2", "Clock Generator : ", "lblClkGen", 140, 18, Label2, lblClkGen);
  row("Label3", "Over Voltage : ", "lblOverClker", 162, 18, Label3, lblOverClker);

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
