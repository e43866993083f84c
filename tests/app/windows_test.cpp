// The main window, the overclock panel and the information panel on a system
// object whose chips are the fakes of AppTestSupport.h.
#include <gmock/gmock.h>

#include <QApplication>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolTip>
#include <filesystem>
#include <optional>

#include "AppTestSupport.h"
#include "app/Display.h"
#include "app/Forms.h"
#include "app/TInfoForm.h"
#include "app/TMainForm.h"
#include "app/TOKBottomDlg.h"
#include "app/TOverClkMsgForm.h"
#include "app/TOverclockForm.h"
#include "app/TRecoveryDlg.h"
#include "app/TStatusMsgForm.h"

namespace rq::app::test {
namespace {

class Windows : public AppTest {
 protected:
  void Open(const BoardSpec& spec) {
    Build(spec);
    TMainForm::Options options;
    options.sleep = [this](int ms) { slept += ms; };
    options.animationDir = qEnvironmentVariable("RQ_BIN_DIR");
    main = std::make_unique<TMainForm>(*system, options);
    TOverclockForm::Checks checks;
    checks.graphicsLibrariesPresent = [this] { return graphics; };
    checks.colourDepth = [this] { return depth; };
    checks.startVerification = [this](VerifyKind kind) {
      started.push_back(kind);
      return true;
    };
    overclock = std::make_unique<TOverclockForm>(*system, checks);
    info = std::make_unique<TInfoForm>(*system);
    main->show();
  }
  void SetUp() override { Open(BoardSpec{}); }
  void TearDown() override {
    info.reset();
    overclock.reset();
    main.reset();
    AppTest::TearDown();
  }

  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TOverclockForm> overclock;
  std::unique_ptr<TInfoForm> info;
  int slept = 0;
  bool graphics = true;
  int depth = 24;
  std::vector<VerifyKind> started;
};

TEST_F(Windows, ReadoutsShowClocksSpeedAndPercentage) {
  system->cpuSpeed = 2399.96;
  system->fsbClock = 146.63;
  system->agpClock = 73.3;
  system->pciClock = 36.65;
  system->memoryClock = 183.3;
  main->RefreshReadouts();
  EXPECT_EQ(main->lblCPUSpeed->text(), "2400.0");
  EXPECT_EQ(main->lblCPUClock->text(), "146.63");
  EXPECT_EQ(main->lbl3V66->text(), "73.3");
  EXPECT_EQ(main->lblPCIClock->text(), "36.65");
  EXPECT_EQ(main->lblMemClk->text(), "183.3");
  EXPECT_EQ(main->lblOverclkPercent->text(), "110 %");
  EXPECT_EQ(main->Animate1->toolTip(), "Over clock percentage: 110 %");
  EXPECT_TRUE(main->Animate1->FileName().endsWith("/01.avi"));
  EXPECT_TRUE(main->Animate1->Active());
  for (QLabel* unit : {main->Label1, main->Label2, main->Label3, main->Label4, main->Label6})
    EXPECT_EQ(unit->text(), "MHz");
}

TEST_F(Windows, AnimationSwitchesAtExactlyTheLimits) {
  system->fsbClock = 159.96;  // 120 %
  main->RefreshReadouts();
  EXPECT_EQ(main->lblOverclkPercent->text(), "120 %");
  EXPECT_TRUE(main->Animate1->FileName().endsWith("/02.avi"));
  system->fsbClock = 161.3;  // 121 %
  main->RefreshReadouts();
  EXPECT_TRUE(main->Animate1->FileName().endsWith("/03.avi"));
}

TEST_F(Windows, StartsAtTheBottomRightWithPanelsCentredBehind) {
  const QRect work = main->screen()->availableGeometry();
  EXPECT_EQ(main->geometry().bottomRight(), work.bottomRight());
  EXPECT_EQ(overclock->pos(), QPoint(main->x() + (308 - 245) / 2, main->y() + (400 - 350) / 2));
  EXPECT_EQ(info->pos(), QPoint(main->x() + (308 - 259) / 2, main->y() + (400 - 200) / 2));
  EXPECT_TRUE(overclock->isVisible());
  EXPECT_FALSE(overclock->isEnabled());
  EXPECT_EQ(main->windowTitle(), "Rhomboquest");
}

TEST_F(Windows, ButtonsOfMissingFunctionsShowTheirDisablePicture) {
  // This board has a clock generator and an overclock controller; the monitor and
  // voltage windows are not made here.
  EXPECT_EQ(main->OverClock->Visible(), ImageButton::Picture::Up);
  EXPECT_TRUE(main->OverClock->isEnabled());
  EXPECT_EQ(main->HwMonitor->Visible(), ImageButton::Picture::Disable);
  EXPECT_FALSE(main->HwMonitor->isEnabled());
  EXPECT_EQ(main->Voltage->Visible(), ImageButton::Picture::Disable);
}

TEST_F(Windows, WithoutClockGeneratorTheOverclockButtonIsDisabled) {
  TearDown();
  Open(BoardSpec{.clockGenerator = false, .overclocker = false});
  EXPECT_EQ(main->OverClock->Visible(), ImageButton::Picture::Disable);
  EXPECT_FALSE(main->OverClock->isEnabled());
  EXPECT_EQ(info->lblOverClker->text(), "");
  EXPECT_EQ(info->lblClkGen->text(), "");
  EXPECT_EQ(info->lblClkGen->toolTip(), "");
}

TEST_F(Windows, OverclockPanelSlidesOutLeftAndBack) {
  const QPoint closed = overclock->pos();
  main->OverClockClick();
  EXPECT_TRUE(overclock->open);
  EXPECT_EQ(overclock->pos(), QPoint(main->x() - 245, closed.y()));
  EXPECT_TRUE(overclock->isEnabled());
  EXPECT_EQ(main->OverClock->Visible(), ImageButton::Picture::Down);
  // 245 + 31 pixels to travel in 15-pixel steps, 5 ms apart.
  EXPECT_EQ(slept, ((245 + 31) / 15) * 5);
  main->OverClockClick();
  EXPECT_FALSE(overclock->open);
  EXPECT_EQ(overclock->pos(), closed);
  EXPECT_FALSE(overclock->isEnabled());
  EXPECT_EQ(main->OverClock->Visible(), ImageButton::Picture::Up);
}

TEST_F(Windows, AboutPanelOpensAboveAndDraggingMovesEveryWindow) {
  main->AboutClick();
  EXPECT_EQ(info->pos(), QPoint(main->x() + (308 - 259) / 2, main->y() - 200));
  const QPoint mainAt = main->pos(), infoAt = info->pos(), overclockAt = overclock->pos();
  main->MainBkImageMouseDown(QPoint(500, 500));
  main->MainBkImageMouseMove(QPoint(490, 470));
  main->MainBkImageMouseMove(QPoint(480, 460));
  const QPoint moved(-20, -40);
  EXPECT_EQ(main->pos(), mainAt + moved);
  EXPECT_EQ(info->pos(), infoAt + moved);
  EXPECT_EQ(overclock->pos(), overclockAt + moved);
}

TEST_F(Windows, OverclockNoteShowsOnFirstOpeningOnlyAndAgainAfterReset) {
  main->OverClockClick();
  EXPECT_EQ(dialogs, std::vector<std::string>{"OverClkMsgForm"});
  EXPECT_EQ(Setting("NoShowOverClkMsg"), "1");
  main->OverClockClick();  // close
  main->OverClockClick();  // open again
  EXPECT_EQ(dialogs.size(), 1u);
  overclock->ResetClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  EXPECT_EQ(Setting("NoShowOverClkMsg"), "0");
  main->OverClockClick();
  main->OverClockClick();
  EXPECT_EQ(dialogs.size(), 2u);
}

// With a settings file that cannot take the InWatch mark, steps and the reset
// leave the clock and the voltages as they were, and the user hears of it once.
TEST_F(Windows, RefusedChangesLeaveClockAndVoltagesAsTheyWere) {
  overclock->IncrMoreClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  system->StopWatchdogThread();  // the next change needs a fresh mark
  volts->raised = true;
  const int restores = volts->restores;
  std::filesystem::remove(system->SettingsFile());
  std::filesystem::create_directory(system->SettingsFile());  // nothing can be written there now
  clock->requests.clear();
  overclock->ResetClick();
  overclock->IncrClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  EXPECT_TRUE(clock->requests.empty());
  EXPECT_EQ(overclock->lblNewCPUClk->text(), "136.3");
  EXPECT_TRUE(volts->raised);
  EXPECT_EQ(volts->restores, restores);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Error");
}

TEST_F(Windows, IncrStepsFromTheReadBackClock) {
  clock->requests.clear();
  ASSERT_EQ(overclock->lblNewCPUClk->text(), "133.3");
  for (const char* expected : {"134.3", "135.3", "136.3"}) {
    overclock->IncrClick();
    ASSERT_TRUE(WaitForHardware(*overclock));
    EXPECT_EQ(overclock->lblNewCPUClk->text(), expected);
    EXPECT_EQ(main->lblCPUClock->text(), expected);
  }
  ASSERT_EQ(clock->requests.size(), 3u);
  EXPECT_NEAR(clock->requests[0], 134.3, 1e-9);
  EXPECT_NEAR(clock->requests[1], 135.3, 1e-9);
  EXPECT_NEAR(clock->requests[2], 136.3, 1e-9);
  EXPECT_FALSE(overclock->Incr->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_EQ(overclock->Incr->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(Windows, StepButtonsMoveByOneAndThreeBothWays) {
  clock->requests.clear();
  overclock->IncrMoreClick();
  overclock->DecrClick();
  overclock->DecrMoreClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  ASSERT_EQ(clock->requests.size(), 3u);
  EXPECT_NEAR(clock->requests[0], 136.3, 1e-9);
  EXPECT_NEAR(clock->requests[1], 135.3, 1e-9);
  EXPECT_NEAR(clock->requests[2], 132.3, 1e-9);
  EXPECT_EQ(overclock->lblNewCPUClk->text(), "132.3");
  // Nothing is saved by a step: only a verification saves a clock.
  EXPECT_EQ(Setting("SafeFreq"), "");
}

TEST_F(Windows, ResetReturnsToDefaultsAndClearsTheSettings) {
  overclock->IncrMoreClick();
  overclock->IncrMoreClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  WriteSetting("VoltShift", "1");
  WriteSetting("NoShowOverClkMsg", "1");
  volts->raised = true;
  const int restoresBefore = volts->restores;
  bool voltageWindowRefreshed = false;
  AppForms().refreshVoltageWindow = [&] { voltageWindowRefreshed = true; };
  overclock->ResetClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  AppForms().refreshVoltageWindow = nullptr;
  EXPECT_NEAR(clock->requests.back(), 133.3, 1e-9);
  EXPECT_EQ(overclock->lblNewCPUClk->text(), "133.3");
  EXPECT_EQ(main->lblCPUClock->text(), "133.3");
  EXPECT_EQ(Setting("SafeFreq"), "133.3");
  EXPECT_EQ(Setting("VoltShift"), "0");
  EXPECT_EQ(Setting("NoShowOverClkMsg"), "0");
  EXPECT_EQ(volts->restores, restoresBefore + 1);
  EXPECT_DOUBLE_EQ(system->coreVoltage, 1.5);
  EXPECT_TRUE(voltageWindowRefreshed);
  EXPECT_FALSE(overclock->Reset->testAttribute(Qt::WA_ForceDisabled));
}

TEST_F(Windows, RecoveryDialogSelectsFromTheSettingAndWritesOnClick) {
  WriteSetting("RecoverToDef", "0");
  onDialog = [](QDialog& dialog) {
    auto& recovery = dynamic_cast<TRecoveryDlg&>(dialog);
    EXPECT_EQ(recovery.ItemIndex(), 1);
  };
  overclock->RecoveryClick();  // closed without a click
  EXPECT_EQ(Setting("RecoverToDef"), "0");

  onDialog = [](QDialog& dialog) {
    auto buttons = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), "Restore to Hardware Default CPU Clock Value");
    buttons[0]->click();
  };
  overclock->RecoveryClick();
  EXPECT_EQ(Setting("RecoverToDef"), "1");

  onDialog = [this](QDialog& dialog) {
    EXPECT_EQ(dynamic_cast<TRecoveryDlg&>(dialog).ItemIndex(), 0);
    dialog.findChildren<QRadioButton*>()[1]->click();
    EXPECT_EQ(Setting("RecoverToDef"), "0");  // at once, before OK
  };
  overclock->RecoveryClick();
  EXPECT_EQ(dialogs, (std::vector<std::string>{"RecoveryDlg", "RecoveryDlg", "RecoveryDlg"}));
}

TEST_F(Windows, VerifyAndAutoStartOnlyAfterOkAndBothChecks) {
  std::vector<std::string> warnings;
  onDialog = [&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Warning!");
    warnings.push_back(dialog.findChild<QWidget*>("Memo1")->property("plainText").toString().toStdString());
  };
  modalResult = QDialog::Rejected;
  overclock->VerifyClick();
  overclock->AutoClick();
  EXPECT_TRUE(started.empty());
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("AUTO-RESTORE to a  more safe clock frequency"), std::string::npos);
  EXPECT_NE(warnings[1].find("until the system hang or fail.Then system"), std::string::npos);
  EXPECT_EQ(warnings[1].substr(warnings[1].size() - 23), "Do you want to proceed?");

  modalResult = QDialog::Accepted;
  graphics = false;
  overclock->AutoClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text,
            "Testing Program will use DirectX features, so please install DirectX 8.0 or above first!");
  EXPECT_EQ(messages[0].caption, "Warning");
  EXPECT_EQ(messages[0].flags, platform::kMbIconInformation);

  graphics = true;
  depth = 8;
  overclock->VerifyClick();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text,
            "Test procedure needs to run under High Color(16 bit color depth) or above. Please change the "
            "current color depth befor running the testing procedure.");
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(Setting("SafeFreq"), "");

  depth = 16;
  overclock->VerifyClick();
  overclock->AutoClick();
  EXPECT_EQ(started, (std::vector<VerifyKind>{VerifyKind::Single, VerifyKind::Automatic}));
  EXPECT_EQ(messages.size(), 2u);
}

TEST_F(Windows, InformationPanelNamesWhatDetectionFound) {
  EXPECT_EQ(info->Label6->text(), "Version : 0.9.7.6");
  EXPECT_EQ(info->lblBIOSModel->toolTip(), "Mainboard BIOS Version");
  EXPECT_EQ(info->lblMCH->text(), "Intel 865PE");
  EXPECT_EQ(info->lblMCH->toolTip(), "Intel 865PE memory controller hub");
  EXPECT_EQ(info->lblClkGen->text(), "ICS950218");
  EXPECT_EQ(info->lblOverClker->text(), "ATXP3");
  EXPECT_EQ(info->lblOverClker->toolTip(), "Jumper-free overclock controller");
  EXPECT_EQ(info->lblHWMonitor->text(), "");
}

TEST_F(Windows, HintsShowOnWindowsWithoutTheFocus) {
  QWidget elsewhere;  // another program's window has the focus
  elsewhere.show();
  elsewhere.activateWindow();
  QApplication::setActiveWindow(&elsewhere);
  ASSERT_FALSE(overclock->isActiveWindow());
  main->OverClockClick();
  QTest::mouseMove(overclock->Incr, QPoint(5, 5));
  QTest::mouseMove(overclock->Incr, QPoint(10, 10));
  EXPECT_TRUE(WaitUntil([] { return QToolTip::isVisible(); }, 2000));
  EXPECT_EQ(QToolTip::text(), "Increase CPU Clock by 1 MHz");
  QToolTip::hideText();
}

TEST_F(Windows, DialogsHaveAFixedSizeAndNoMinimiseOrMaximise) {
  TRecoveryDlg recovery(overclock.get(), *system);
  TOverClkMsgForm note(main.get());
  TOKBottomDlg warning(overclock.get());
  TStatusMsgForm status(main.get(), {});
  for (QWidget* dialog : std::initializer_list<QWidget*>{&recovery, &note, &warning, &status}) {
    SCOPED_TRACE(dialog->objectName().toStdString());
    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);  // only the buttons asked for
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    EXPECT_GT(dialog->minimumHeight(), 50);
  }
}

// The environment a start sees, put back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      saved_.emplace_back(name,
                          qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
      if (value) {
        qputenv(name, value);
      } else {
        qunsetenv(name);
      }
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        qputenv(name.c_str(), *value);
      } else {
        qunsetenv(name.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<QByteArray>>> saved_;
};

TEST(Display, AWaylandSessionRunsThroughXWaylandAndSaysWhatIsMissing) {
  {
    ScopedEnvironment wayland{
        {"QT_QPA_PLATFORM", nullptr}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", nullptr}};
    const auto problem = PrepareDisplay();
    // Inherited by the stress programs too.
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");
    ASSERT_TRUE(problem.has_value());
    EXPECT_THAT(*problem, ::testing::HasSubstr("XWayland"));
    EXPECT_EQ(problem->find('\n'), std::string::npos);
  }
  {
    // A platform asked for is kept.
    ScopedEnvironment offscreen{{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", nullptr}};
    EXPECT_EQ(PrepareDisplay(), std::nullopt);
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "offscreen");
  }
}

}  // namespace
}  // namespace rq::app::test
