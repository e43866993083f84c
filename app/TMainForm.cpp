#include "app/TMainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QScreen>
#include <chrono>
#include <thread>

#include "app/CheckExitThread.h"
#include "app/Format.h"
#include "app/Modal.h"
#include "app/TInfoForm.h"
#include "app/TOverClkMsgForm.h"
#include "app/TOverclockForm.h"
#include "app/TVoltForm.h"
#include "app/WindowThread.h"
#include "engine/MSupport.h"
#include "platform/Process.h"
#include "verify/VerifyThreads.h"

namespace rq::app {
namespace {

constexpr QSize kMainSize(308, 400);
constexpr int kSlideStep = 15;
constexpr int kSlidePauseMs = 5;
// How long closing waits for the driver daemon before it gives up on it: a healthy
// daemon needs milliseconds for the last clock step and the disarm, and the whole
// close must end within three seconds even when the daemon is stopped.
constexpr std::chrono::milliseconds kCloseBound{1500};

void RedrawAndSleep(int ms) {
  // The slide blocks the window thread, as it always has; let the window system
  // see each step, but take no input meanwhile.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Beside the program in the build folder; in the shared data folder once installed.
QString DefaultAnimationDir() {
  const QString own = QCoreApplication::applicationDirPath();
  if (QFileInfo::exists(QDir(own).filePath(AnimationFileFor(0)))) return own;
  const std::string shared = platform::SharedDataDirectory();
  return shared.empty() ? own : QString::fromStdString(shared);
}

}  // namespace

TMainForm::TMainForm(engine::MSupport& system) : TMainForm(system, Options{}) {}

TMainForm::TMainForm(engine::MSupport& system, Options options)
    : SkinnedForm("Rhomboquest", "MainBk.png", "BackGround", kMainSize),
      system_(system),
      options_(std::move(options)) {
  setObjectName("MainForm");
  if (!options_.sleep) options_.sleep = &RedrawAndSleep;
  if (options_.animationDir.isEmpty()) options_.animationDir = DefaultAnimationDir();
  Background()->setObjectName("MainBkImage");
  AppForms().mainForm = this;

  const int valueLeft = 132, valueWidth = 104, unitLeft = 242;
  auto row = [&](const char* value, const char* unit, int y, QLabel*& valueLabel, QLabel*& unitLabel) {
    valueLabel = MakeLabel(this, value, "0", QRect(valueLeft, y, valueWidth, 24), LabelStyle::Readout,
                           Qt::AlignRight | Qt::AlignVCenter);
    unitLabel = MakeLabel(this, unit, "MHz", QRect(unitLeft, y + 2, 40, 22), LabelStyle::Unit);
  };
  row("lblCPUSpeed", "Label1", 67, lblCPUSpeed, Label1);
  row("lblCPUClock", "Label2", 95, lblCPUClock, Label2);
  row("lbl3V66", "Label3", 123, lbl3V66, Label3);
  row("lblPCIClock", "Label4", 151, lblPCIClock, Label4);
  row("lblMemClk", "Label6", 179, lblMemClk, Label6);
  lblOverclkPercent = MakeLabel(this, "lblOverclkPercent", "100 %", QRect(132, 208, 150, 30),
                                LabelStyle::ReadoutLarge, Qt::AlignRight | Qt::AlignVCenter);
  QFont percentFont = lblOverclkPercent->font();
  percentFont.setPixelSize(24);
  lblOverclkPercent->setFont(percentFont);

  Animate1 = new AnimationPlayer(this);
  Animate1->setObjectName("Animate1");
  Animate1->setGeometry(74, 258, 160, 64);

  Exit = new ImageButton(this, "Exit", "Exit", "Close the Utility.");
  Exit->move(262, 24);
  OverClock = new ImageButton(this, "OverClock", "OverClk", "Open / Close the Over Clock Panel.");
  OverClock->move(43, 344);
  Voltage = new ImageButton(this, "Voltage", "Volt", "Open / Close the Voltage Panel.");
  Voltage->move(107, 344);
  HwMonitor = new ImageButton(this, "HwMonitor", "HwMonitor", "Open / Close the Hardware Monitor Panel.");
  HwMonitor->move(171, 344);
  About = new ImageButton(this, "About", "About", "Open / Close the About Panel.");
  About->move(235, 344);

  connect(Exit, &ImageButton::Click, this, [this] { ExitClick(); });
  connect(Exit, &ImageButton::MouseDown, this, [this] { ExitMouseDown(); });
  connect(Exit, &ImageButton::MouseUp, this, [this] { ExitMouseUp(); });
  connect(About, &ImageButton::Click, this, [this] { AboutClick(); });
  connect(OverClock, &ImageButton::Click, this, [this] { OverClockClick(); });
  connect(Voltage, &ImageButton::Click, this, [this] { VoltageClick(); });
  connect(HwMonitor, &ImageButton::Click, this, [this] { HwMonitorClick(); });

  checkExitThread_ = std::make_unique<CheckExitThread>(
      [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); });
  checkExitThread_->Start();
}

TMainForm::~TMainForm() {
  checkExitThread_->Stop();
  if (AppForms().mainForm == this) AppForms().mainForm = nullptr;
}

std::vector<QWidget*> TMainForm::Panels() const {
  const Forms& forms = AppForms();
  std::vector<QWidget*> panels;
  for (QWidget* panel :
       {static_cast<QWidget*>(forms.overclockForm), static_cast<QWidget*>(forms.hwMonitorForm),
        static_cast<QWidget*>(forms.infoForm), static_cast<QWidget*>(forms.voltForm)})
    if (panel) panels.push_back(panel);
  return panels;
}

QPoint TMainForm::ClosedPosition(const QWidget& panel) const {
  // Halves rounded toward zero, as integer division does.
  return QPoint(x() + (width() - panel.width()) / 2, y() + (height() - panel.height()) / 2);
}

QPoint TMainForm::OpenPosition(const QWidget& panel, bool toTheLeft) const {
  const QPoint closed = ClosedPosition(panel);
  return toTheLeft ? QPoint(x() - panel.width(), closed.y()) : QPoint(closed.x(), y() - panel.height());
}

void TMainForm::showEvent(QShowEvent* event) {
  SkinnedForm::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TMainForm::FormShow() {
  // Bottom-right corner of the work area of this window's screen.
  if (QScreen* desktop = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect work = desktop->availableGeometry();
    move(work.x() + work.width() - width(), work.y() + work.height() - height());
  }
  for (QWidget* panel : Panels()) {
    panel->move(ClosedPosition(*panel));
    panel->show();
  }
  raise();  // the panels wait behind this window
  activateWindow();

  const Forms& forms = AppForms();
  if (!system_.clockGenerator || !forms.overclockForm) OverClock->SetUnavailable();
  if (!system_.HasVoltageDevice() || !forms.voltForm) Voltage->SetUnavailable();
  if (!system_.HasSensors() || !forms.hwMonitorForm) HwMonitor->SetUnavailable();
  RefreshReadouts();
}

void TMainForm::RefreshReadouts() {
  lblCPUSpeed->setText(FormatFixed1(system_.cpuSpeed));
  lblCPUClock->setText(FormatGeneral(system_.fsbClock));
  lbl3V66->setText(FormatGeneral(system_.agpClock));
  lblPCIClock->setText(FormatGeneral(system_.pciClock));
  lblMemClk->setText(FormatGeneral(system_.memoryClock));
  const int percent = system_.GetOverclockPercent();
  const QString percentText = FormatGeneral(percent);
  lblOverclkPercent->setText(percentText + " %");
  Animate1->setToolTip("Over clock percentage: " + percentText + " %");
  Animate1->SetFileName(QDir(options_.animationDir).filePath(AnimationFileFor(percent)));
  Animate1->Play();
}

void TMainForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) MainBkImageMouseDown(event->globalPosition().toPoint());
}

void TMainForm::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) MainBkImageMouseMove(event->globalPosition().toPoint());
}

void TMainForm::MainBkImageMouseDown(const QPoint& globalPos) { lastMouse_ = globalPos; }

void TMainForm::MainBkImageMouseMove(const QPoint& globalPos) {
  const QPoint delta = globalPos - lastMouse_;
  move(pos() + delta);
  for (QWidget* panel : Panels()) panel->move(panel->pos() + delta);
  lastMouse_ = globalPos;
}

void TMainForm::ExitMouseDown() { Exit->ShowDown(); }
void TMainForm::ExitMouseUp() { Exit->ShowUp(); }

void TMainForm::ExitClick() {
  // The exit event closes the window from the exit thread, exactly as when another
  // process signals it; without the event there is nothing to wait for.
  if (checkExitThread_->HasEvent() && !checkExitThread_->Finished()) {
    checkExitThread_->Signal();
  } else {
    close();
  }
}

void TMainForm::Slide(QWidget& panel, const QPoint& target) {
  QPoint at = panel.pos();
  for (;;) {
    const QPoint rest = target - at;
    const int distance = std::abs(rest.x()) + std::abs(rest.y());  // one axis moves at a time
    if (distance <= kSlideStep) break;
    at += QPoint(rest.x() == 0 ? 0 : (rest.x() > 0 ? kSlideStep : -kSlideStep),
                 rest.y() == 0 ? 0 : (rest.y() > 0 ? kSlideStep : -kSlideStep));
    panel.move(at);
    options_.sleep(kSlidePauseMs);
  }
  panel.move(target);
}

void TMainForm::TogglePanel(TPanelForm* panel, ImageButton& button, TPanelForm* partner,
                            ImageButton& partnerButton, bool toTheLeft) {
  if (!panel) return;
  if (!panel->open && partner && partner->open)
    TogglePanel(partner, partnerButton, nullptr, button, toTheLeft);
  panel->open = !panel->open;
  if (panel->open) {
    button.ShowDown();
    Slide(*panel, OpenPosition(*panel, toTheLeft));
    panel->setEnabled(true);
  } else {
    button.ShowUp();
    raise();  // slide back behind this window, even if the panel was raised meanwhile
    Slide(*panel, ClosedPosition(*panel));
    panel->setEnabled(false);
  }
}

void TMainForm::OverClockClick() {
  Forms& forms = AppForms();
  TogglePanel(forms.overclockForm, *OverClock, forms.hwMonitorForm, *HwMonitor, true);
  if (forms.hwMonitorForm && !forms.hwMonitorForm->open) system_.SuspendHwMonitorThread();
  if (forms.overclockForm && forms.overclockForm->open && !system_.GetNoShowOverClkMsg()) {
    TOverClkMsgForm note(this);
    ExecModal(note);
    system_.SetNoShowOverClkMsg(true);
  }
}

void TMainForm::HwMonitorClick() {
  Forms& forms = AppForms();
  if (!forms.hwMonitorForm) return;
  TogglePanel(forms.hwMonitorForm, *HwMonitor, forms.overclockForm, *OverClock, true);
  if (forms.hwMonitorForm->open) {
    system_.ResumeHwMonitorThread();
  } else {
    system_.SuspendHwMonitorThread();
  }
}

void TMainForm::VoltageClick() {
  Forms& forms = AppForms();
  TogglePanel(forms.voltForm, *Voltage, forms.infoForm, *About, false);
}

void TMainForm::AboutClick() {
  Forms& forms = AppForms();
  TogglePanel(forms.infoForm, *About, forms.voltForm, *Voltage, false);
}

void TMainForm::FormCloseQuery() {
  if (closing_) return;
  closing_ = true;
  system_.BeginClosing(kCloseBound);
  // From here on a worker waiting for the window thread is let go at once, so the
  // waits below cannot meet a thread that waits for us.
  WindowThreadDispatcher::Instance().BeginClosing();
  checkExitThread_->Stop();
  // A clock change under way ends first, so that the watchdog it arms is the one
  // disarmed below.
  if (TOverclockForm* overclock = AppForms().overclockForm) overclock->FinishHardwareWork();
  if (TVoltForm* volt = AppForms().voltForm) volt->FinishHardwareWork();
  if (verify::Verification* verification = AppForms().verification) verification->Stop();
  if (system_.WatchdogRunning()) system_.StopWatchdogThread();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  event->accept();
  for (QWidget* panel : Panels()) panel->hide();
  QCoreApplication::quit();
}

}  // namespace rq::app
