#include "app/TVoltForm.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cstdio>
#include <optional>

#include "app/Format.h"
#include "app/HardwareJobs.h"
#include "app/Modal.h"
#include "app/Skins.h"
#include "app/TMainForm.h"
#include "app/TOKBottomDlg.h"
#include "app/TOverclockForm.h"
#include "engine/MSupport.h"

namespace rq::app {
namespace {

constexpr QSize kVoltSize(259, 200);
constexpr QSize kToggleSize(48, 24);
constexpr int kValueLeft = 112;
constexpr int kValueWidth = 84;
constexpr int kUnitLeft = 202;
constexpr int kUnitWidth = 40;
constexpr int kCoreTop = 44;
constexpr int kMemoryTop = 80;
constexpr int kRowHeight = 22;
constexpr QPoint kYesAt(138, 142);
constexpr QPoint kNoAt(194, 142);

const char* const kLowerWarning =
    "Suddently decrease voltage may affect the system stability especially when the over clock percentage is "
    "above 110 %. So the utility will auto-reset all the states of system to the original hardware default "
    "settings to make system stable.";

QLabel* PictureLabel(QWidget* parent, const QString& objectName, const QString& file) {
  auto* label = new QLabel(parent);
  label->setObjectName(objectName);
  label->setPixmap(QPixmap(file));
  label->setGeometry(QRect(QPoint(0, 0), kToggleSize));
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

YesNoPanel::YesNoPanel(QWidget* parent, const QString& name, const QString& pictures) : QWidget(parent) {
  LoadSkins();
  setObjectName(name);
  setFixedSize(kToggleSize);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  const QString base = QStringLiteral(":/button/") + pictures;
  on_ = PictureLabel(this, "img" + pictures + "On", base + "On.png");
  off_ = PictureLabel(this, "img" + pictures + "Off", base + "Off.png");
  ShowOn(false);
}

void YesNoPanel::ShowOn(bool on) {
  on_->setVisible(on);
  off_->setVisible(!on);
}

void YesNoPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
}

void YesNoPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (rect().contains(event->position().toPoint()) && onClick) onClick();
}

void YesNoPanel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (onClick) onClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

TVoltForm::TVoltForm(engine::MSupport& system)
    : TPanelForm("Voltage", "VoltageBk.png", "VoltageBackGrnd", kVoltSize),
      system_(system),
      hardware_(HardwareJobs::Shared()) {
  setObjectName("VoltForm");
  Image1 = Background();
  Image1->setObjectName("Image1");

  auto row = [this](const char* valueName, const char* unitName, int top, QLabel*& value, QLabel*& unit) {
    value = MakeLabel(this, valueName, "0", QRect(kValueLeft, top, kValueWidth, kRowHeight),
                      LabelStyle::Readout, Qt::AlignRight | Qt::AlignVCenter);
    unit =
        MakeLabel(this, unitName, "Volts", QRect(kUnitLeft, top, kUnitWidth, kRowHeight), LabelStyle::Unit);
  };
  row("lblVoltCore", "Label1", kCoreTop, lblVoltCore, Label1);
  row("lblVoltDimm", "Label2", kMemoryTop, lblVoltDimm, Label2);

  btnYes = new YesNoPanel(this, "btnYes", "Yes");
  btnYes->move(kYesAt);
  btnYes->setToolTip("Raise the CPU core and memory voltages.");
  btnYes->onClick = [this] { btnYesClick(); };
  imgYesOn = btnYes->OnPicture();
  imgYesOff = btnYes->OffPicture();
  btnNo = new YesNoPanel(this, "btnNo", "No");
  btnNo->move(kNoAt);
  btnNo->setToolTip("Return to the normal voltages.");
  btnNo->onClick = [this] { btnNoClick(); };
  imgNoOn = btnNo->OnPicture();
  imgNoOff = btnNo->OffPicture();

  // A GPIO controller may drive only one of the two supplies; the other has no
  // reading to show. (An overclock controller drives both.)
  if (!system_.overclockController && system_.gpioVoltage) {
    lblVoltCore->setVisible(system_.gpioVoltage->CoreEnabled());
    Label1->setVisible(system_.gpioVoltage->CoreEnabled());
    lblVoltDimm->setVisible(system_.gpioVoltage->MemoryEnabled());
    Label2->setVisible(system_.gpioVoltage->MemoryEnabled());
  }

  AppForms().voltForm = this;
  AppForms().refreshVoltageWindow = [this] { Refresh(); };
  Refresh();
}

TVoltForm::~TVoltForm() {
  FinishHardwareWork();
  if (AppForms().voltForm == this) {
    AppForms().voltForm = nullptr;
    AppForms().refreshVoltageWindow = nullptr;
  }
}

void TVoltForm::Refresh() {
  ShowState(system_.GetVoltShift());
  ShowVoltages();
}

void TVoltForm::ShowState(bool raised) {
  raised_ = raised;
  btnYes->ShowOn(raised);
  btnNo->ShowOn(!raised);
}

void TVoltForm::ShowVoltages() {
  lblVoltCore->setText(FormatGeneral(system_.coreVoltage));
  lblVoltDimm->setText(FormatGeneral(system_.memoryVoltage));
  // RQ_VOLTAGE_TRACE=1: what the panel shows, for the end-to-end test.
  static const bool trace = qEnvironmentVariableIsSet("RQ_VOLTAGE_TRACE");
  if (trace) {
    std::fprintf(stderr, "voltage: %s core=%s memory=%s\n", raised_ ? "raised" : "normal",
                 qPrintable(lblVoltCore->text()), qPrintable(lblVoltDimm->text()));
  }
}

void TVoltForm::RunOnHardware(std::function<void()> work, std::function<void()> show) {
  busy_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  btnYes->setEnabled(false);
  btnNo->setEnabled(false);
  const bool started = hardware_->Start(std::move(work), [this, show](std::exception_ptr error) {
    show();
    MarkDone();
    if (error) std::rethrow_exception(error);
  });
  if (!started) MarkDone();
}

void TVoltForm::MarkDone() {
  if (!busy_) return;
  busy_ = false;
  QApplication::restoreOverrideCursor();
  btnYes->setEnabled(true);
  btnNo->setEnabled(true);
}

void TVoltForm::FinishHardwareWork() {
  hardware_->Finish();
  MarkDone();  // the window part of a dropped job will not come
}

bool TVoltForm::HardwareIdle() const { return hardware_->Idle(); }

void TVoltForm::btnYesClick() {
  // Pressing Yes again repeats the raise. A GPIO controller's core reading takes a
  // few seconds, hence the worker.
  auto raised = std::make_shared<bool>(false);
  RunOnHardware([this, raised] { *raised = system_.ApplyVoltShift(true); },
                [this, raised] {
                  ShowState(*raised);
                  ShowVoltages();
                });
}

void TVoltForm::btnNoClick() {
  if (!system_.GetVoltShift()) return;
  TOKBottomDlg warning(this);
  warning.setWindowTitle("Warning!");
  warning.AddLine(kLowerWarning);
  warning.AddLine("");
  warning.AddLine("Do you want to proceed?");
  if (ExecModal(warning) != QDialog::Accepted) return;

  auto raised = std::make_shared<std::optional<bool>>();
  RunOnHardware(
      [this, raised] {
        // Refused (InWatch could not be written, the user has been told): the clock
        // stays, and so do the voltages that carry it.
        if (!system_.ChangeFsb(system_.hwDefaultClock, true)) return;
        system_.RefreshClocks();
        system_.SaveSafeFreq();
        *raised = system_.ApplyVoltShift(false);
      },
      [this, raised] {
        if (!raised->has_value()) return;
        if (TMainForm* main = AppForms().mainForm) main->RefreshReadouts();
        if (TOverclockForm* overclock = AppForms().overclockForm) overclock->ShowClock();
        ShowState(**raised);
        ShowVoltages();
      });
}

}  // namespace rq::app
