#include "app/TInfoForm.h"

#include <utility>

#include "engine/DevicePaths.h"
#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr QSize kInfoSize(259, 200);
constexpr int kLeft = 20;
constexpr int kRight = 242;
constexpr int kTop = 58;
constexpr int kBottom = 190;  // the foot of the skin's recess
constexpr int kLineHeight = 16;  // one line of the 10-pixel lettering
constexpr int kRowGap = 4;
constexpr int kCaptionGap = 2;
// A value too long for the room beside its caption goes below it, indented, where
// only a value wider than the panel is made smaller: every row keeps one size.
constexpr int kStackIndent = 12;
constexpr int kDesignPixelSize = 10;
constexpr int kSmallestPixelSize = 8;
// The BIOS model string may take two lines beside its caption.
constexpr int kBiosLines = 2;

void Describe(QLabel& label, const std::string& model, const std::string& description) {
  label.setText(QString::fromStdString(model));
  label.setToolTip(QString::fromStdString(description));
}

// A row with no device whose ports the daemon leaves to a kernel driver names the
// driver; its tip says what the user can do.
void DescribeLeftToKernel(QLabel& label, const engine::MSupport& system, engine::DeviceRow row) {
  if (const hw::KernelOwnedBlock* block = engine::BlockLeftToKernel(system, row))
    Describe(label, "Left to " + block->driver, engine::LeftToKernelAdvice(*block));
}

// An SMBus chip, and the kernel adapter it is reached through when there is one.
void DescribeSmbusChip(QLabel& label, const engine::MSupport& system, const std::string& model,
                       const std::string& description) {
  const std::string driver = engine::SmbusKernelDriver(system);
  if (driver.empty()) {
    Describe(label, model, description);
  } else {
    Describe(label, model + " via " + driver,
             description + "\nReached through the kernel's SMBus adapter (" + driver +
                 ", /dev/i2c): the host's ports are left to the kernel.");
  }
}

// The chip and the path it is read through: its ports, the kernel driver that owns
// it, or, without a chip of the program's, the host's own sensors.
void DescribeMonitor(QLabel& label, const engine::MSupport& system) {
  if (const auto& chip = system.hardwareMonitor) {
    const std::string driver = engine::MonitorKernelDriver(system);
    if (driver.empty()) {
      Describe(label, chip->GetModel(), chip->GetDescription());
    } else {
      Describe(label, chip->GetModel() + " via " + driver,
               chip->GetDescription() + "\nRead through the kernel's " + driver +
                   " driver (hwmon): its ports are left to the driver.");
    }
    return;
  }
  const hw::KernelOwnedBlock* block = engine::BlockLeftToKernel(system, engine::DeviceRow::HardwareMonitor);
  if (!system.hostSensors.empty()) {
    std::string tip = "No monitor chip of the program's: " + engine::DescribeHostSensors(system) +
                      ", read from the kernel's hwmon drivers.";
    if (block != nullptr) tip += "\n" + engine::LeftToKernelAdvice(*block);
    Describe(label, "Host sensors (hwmon)", tip);
  } else {
    DescribeLeftToKernel(label, system, engine::DeviceRow::HardwareMonitor);
  }
}

// Lays the value out at the design size over `lines` lines of `width` from (x, y);
// true when its text fits.
bool FitsInLines(QLabel& value, int x, int y, int width, int lines) {
  value.setWordWrap(lines > 1);
  value.setGeometry(x, y, width, lines * kLineHeight);
  QFont font = value.font();
  font.setPixelSize(kDesignPixelSize);
  value.setFont(font);
  return TextFits(value, font);
}

// Puts a row's caption at `y` and its value beside it, on as few of `maxLines` lines
// as it needs, or below it when it does not fit there; returns the row's height. A
// `compact` row first lets a one-line value beside its caption grow smaller.
int PlaceRow(QLabel& caption, QLabel& value, int y, int maxLines, bool compact) {
  caption.move(kLeft, y);
  const int besideLeft = kLeft + caption.width() + kCaptionGap;
  int lines = 1;
  while (lines < maxLines && !FitsInLines(value, besideLeft, y, kRight - besideLeft, lines)) ++lines;
  int height = lines * kLineHeight;
  if (compact && lines == 1 && !FitsInLines(value, besideLeft, y, kRight - besideLeft, 1)) {
    ShrinkToFit(value, kDesignPixelSize, kSmallestPixelSize);
    if (TextFits(value, value.font())) return height;
  }
  if (!FitsInLines(value, besideLeft, y, kRight - besideLeft, lines)) {
    const int stackedLeft = kLeft + kStackIndent;
    FitsInLines(value, stackedLeft, y + kLineHeight, kRight - stackedLeft, maxLines);
    ShrinkToFit(value, kDesignPixelSize, kSmallestPixelSize);
    height = (1 + maxLines) * kLineHeight;
  }
  return height;
}

}  // namespace

TInfoForm::TInfoForm(engine::MSupport& system)
    : TPanelForm("About", "AboutBk.png", "AboutBackGrnd", kInfoSize) {
  setObjectName("InfoForm");
  AppForms().infoForm = this;

  Label6 = MakeLabel(this, "Label6", "Version : 0.9.7.6", QRect(kLeft, 38, kRight - kLeft, 18),
                     LabelStyle::Caption);
  auto row = [&](const char* captionName, const char* caption, const char* valueName, QLabel*& captionLabel,
                 QLabel*& valueLabel) {
    captionLabel = MakeLabel(this, captionName, caption, QRect(kLeft, 0, 10, kLineHeight),
                             LabelStyle::Caption, Qt::AlignLeft | Qt::AlignTop);
    captionLabel->adjustSize();
    captionLabel->setFixedHeight(kLineHeight);
    valueLabel = MakeLabel(this, valueName, "", QRect(), LabelStyle::Value, Qt::AlignLeft | Qt::AlignTop);
  };
  row("Label1", "BIOS Model : ", "lblBIOSModel", Label1, lblBIOSModel);
  row("Label9", "Memory Controller Hub : ", "lblMCH", Label9, lblMCH);
  row("Label4", "Hardware Monitor : ", "lblHWMonitor", Label4, lblHWMonitor);
  row("Label2", "Clock Generator : ", "lblClkGen", Label2, lblClkGen);
  row("Label3", "Over Voltage : ", "lblOverClker", Label3, lblOverClker);

  Describe(*lblBIOSModel, system.biosModel, "Mainboard BIOS Version");
  if (system.northBridge)
    Describe(*lblMCH, system.northBridge->GetModel(), system.northBridge->GetDescription());
  DescribeMonitor(*lblHWMonitor, system);
  if (system.clockGenerator) {
    DescribeSmbusChip(*lblClkGen, system, system.clockGenerator->GetModel(),
                      system.clockGenerator->GetDescription());
  } else {
    DescribeLeftToKernel(*lblClkGen, system, engine::DeviceRow::ClockGenerator);
  }
  if (system.overclockController) {
    DescribeSmbusChip(*lblOverClker, system, system.overclockController->GetModel(),
                      system.overclockController->GetDescription());
  } else if (system.gpioVoltage) {
    Describe(*lblOverClker, system.gpioVoltage->GetModel(), system.gpioVoltage->GetDescription());
  } else {
    DescribeLeftToKernel(*lblOverClker, system, engine::DeviceRow::VoltageControl);
  }

  if (LayOutRows(false) > kBottom) LayOutRows(true);
}

// Rows follow each other down the panel: a two-line BIOS model or a value moved below
// its caption pushes the rows after it down. When they would run past the recess (the
// kernel's paths make values long), the rows close up and values beside their captions
// may grow smaller rather than move below them. Returns the foot of the last row.
int TInfoForm::LayOutRows(bool compact) {
  const int gap = compact ? 0 : kRowGap;
  int y = kTop;
  y += PlaceRow(*Label1, *lblBIOSModel, y, kBiosLines, compact) + gap;
  for (const auto& [caption, value] : {std::pair{Label9, lblMCH}, std::pair{Label4, lblHWMonitor},
                                       std::pair{Label2, lblClkGen}, std::pair{Label3, lblOverClker}}) {
    y += PlaceRow(*caption, *value, y, 1, compact) + gap;
  }
  return y - gap;
}

TInfoForm::~TInfoForm() {
  if (AppForms().infoForm == this) AppForms().infoForm = nullptr;
}

}  // namespace rq::app
