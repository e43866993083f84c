// The windows on the shipped default virtual board, reached through the daemon's
// own request decoder in this process. (On the fakes of AppTestSupport.h, which read
// back exactly what was asked, Incr from 133.3 asks for 134.3, 135.3 and 136.3.)
#include "sim/Board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QTemporaryDir>

#include "AppTestSupport.h"
#include "app/Format.h"
#include "app/Modal.h"
#include "app/TInfoForm.h"
#include "app/TMainForm.h"
#include "app/TOverClkMsgForm.h"
#include "app/TOverclockForm.h"
#include "app/TRecoveryDlg.h"
#include "app/TStatusMsgForm.h"
#include "app/TVoltForm.h"
#include "app/WindowThread.h"
#include "driver/VirtualBoardBackend.h"
#include "platform/WindowThread.h"
#include "support/FakeHwmon.h"
#include "support/InProcessDriverHandle.h"
#include "support/ScopedEnv.h"

namespace rq::app::test {
namespace {

class DefaultBoard : public ::testing::Test {
 protected:
  void Start(bool realTiming, const std::string& profile = "default") {
    board = sim::Board::Shipped(profile, time);
    engine::MSupportOptions options;
    options.settingsFile = QDir(dir.path()).filePath("torvane.ini").toStdString();
    options.openDriver = [this] { return std::make_unique<driver::InProcessDriverHandle>(*board); };
    if (!realTiming) options.timing = InstantTiming();
    if (adjust) adjust(options);
    system = std::make_unique<engine::MSupport>(std::move(options));
    ASSERT_FALSE(system->anotherInstance);
    WindowThreadDispatcher::Instance().Install();
    SetModalHook([](QDialog&) { return QDialog::Rejected; });
    TMainForm::Options windowOptions;
    windowOptions.sleep = [](int) {};
    main = std::make_unique<TMainForm>(*system, windowOptions);
    overclock = std::make_unique<TOverclockForm>(*system);
    info = std::make_unique<TInfoForm>(*system);
    volt = std::make_unique<TVoltForm>(*system);
    main->show();
  }
  void TearDown() override {
    volt.reset();
    info.reset();
    overclock.reset();
    main.reset();
    SetModalHook({});
    WindowThreadDispatcher::Instance().BeginClosing();
    system.reset();
    platform::SetWindowThreadDispatcher({});
  }
  bool WatchdogArmed() {
    auto lock = board->Lock();
    return board->Dog().Enabled();
  }
  double BoardFsb() {
    auto lock = board->Lock();
    return board->Processor().Fsb();
  }

  std::function<void(engine::MSupportOptions&)> adjust;
  QTemporaryDir dir;
  sim::RealTimeSource time;
  std::unique_ptr<sim::Board> board;
  std::unique_ptr<driver::VirtualBoardBackend> backend;  // when a test reaches the board through one
  std::unique_ptr<engine::MSupport> system;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TOverclockForm> overclock;
  std::unique_ptr<TInfoForm> info;
  std::unique_ptr<TVoltForm> volt;
};

TEST_F(DefaultBoard, ShowsWhatDetectionFoundAndTheClocks) {
  Start(false);
  EXPECT_EQ(info->lblBIOSModel->text().toStdString(), system->biosModel);
  EXPECT_FALSE(info->lblBIOSModel->text().isEmpty());
  EXPECT_FALSE(info->lblClkGen->text().isEmpty());
  EXPECT_FALSE(info->lblMCH->text().isEmpty());
  EXPECT_EQ(main->OverClock->Visible(), ImageButton::Picture::Up);
  EXPECT_EQ(main->lblCPUClock->text(), "133.3");
  EXPECT_EQ(main->lblOverclkPercent->text(), "100 %");
}

// Labels and buttons of `window` whose text, in the font they use, does not fit
// the place they were given.
std::vector<std::string> TextsThatDoNotFit(QWidget& window) {
  window.show();
  QApplication::processEvents();
  std::vector<std::string> cut;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    const QRect room = label->contentsRect();
    const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = QFontMetrics(label->font()).boundingRect(room, flags, label->text());
    if (needed.width() > room.width() || needed.height() > room.height()) {
      cut.push_back(label->objectName().toStdString() + " \"" + label->text().toStdString() + "\" needs " +
                    std::to_string(needed.width()) + "x" + std::to_string(needed.height()) + ", has " +
                    std::to_string(room.width()) + "x" + std::to_string(room.height()));
    }
  }
  for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty()) continue;
    if (button->sizeHint().width() > button->width() || button->sizeHint().height() > button->height())
      cut.push_back(button->text().toStdString());
  }
  window.hide();
  return cut;
}

TEST_F(DefaultBoard, EveryTextFitsItsPlace) {
  Start(false);
  // The widest read-outs a board can bring.
  system->cpuSpeed = 3999.96;
  system->fsbClock = 333.3;
  system->agpClock = 111.1;
  system->pciClock = 111.1;
  system->memoryClock = 444.4;
  system->coreVoltage = 1.525;
  system->memoryVoltage = 2.65;
  main->RefreshReadouts();
  overclock->ShowClock();
  volt->ShowVoltages();
  TStatusMsgForm status(nullptr, {});
  TRecoveryDlg recovery(nullptr, *system);
  TOverClkMsgForm note(nullptr);
  for (QWidget* window : std::initializer_list<QWidget*>{main.get(), overclock.get(), info.get(), volt.get(),
                                                         &status, &recovery, &note}) {
    EXPECT_THAT(TextsThatDoNotFit(*window), ::testing::IsEmpty()) << window->objectName().toStdString();
  }
}

// Rows of the information panel that run past the foot of its recess (y 190).
std::vector<std::string> RowsPastTheRecess(QWidget& info) {
  std::vector<std::string> past;
  for (QLabel* label : info.findChildren<QLabel*>())
    if (!label->text().isEmpty() && label->geometry().bottom() >= 190)
      past.push_back(label->objectName().toStdString() + " ends at " + std::to_string(label->geometry().bottom()));
  return past;
}

// A real board whose monitor chip the kernel's w83627hf driver owns and whose SMBus host
// i2c_i801 drives: with no adapter the SMBus chips are left to it, through its adapter
// they are reached; either way the panel says so, and it still fits.
TEST_F(DefaultBoard, InformationPanelSaysWhichPathServesEachDevice) {
  rq::test::WriteTree(dir.path().toStdString() + "/sys", rq::test::HwmonFile("w83627hf.tree"));
  const rq::test::ScopedEnv useSysfs("RQ_SYSFS_ROOT", dir.path().toStdString() + "/sys");
  for (const bool adapter : {false, true}) {
    SCOPED_TRACE(adapter ? "through the adapter" : "no adapter");
    adjust = [&](engine::MSupportOptions& options) {
      options.kernelOwnedBlocks = [] {
        return hw::ParseKernelOwnedBlocks(R"({"realHardware":true,"ports":[
          {"what":"Intel SMBus host","first":1024,"last":1055,"kernelDriver":"i2c_i801"}]})");
      };
      if (adapter) {
        backend = std::make_unique<driver::VirtualBoardBackend>(*board, driver::VirtualBoardBackend::WhenHung::Fail,
                                                                true);
        options.openDriver = [this] { return std::make_unique<driver::InProcessDriverHandle>(*backend); };
        return;
      }
      options.clockGeneratorCandidates = [](const std::string&) {
        return devices::CandidateList<devices::I2cClockGenIo>{};
      };
      options.overclockControllerCandidates = [] { return devices::CandidateList<devices::I2cOverclkIo>{}; };
    };
    Start(false);
    EXPECT_EQ(info->lblHWMonitor->text(), "W83627HF via w83627hf");
    if (adapter) {
      EXPECT_EQ(info->lblClkGen->text(), "ICS950218 via i2c_i801");
      EXPECT_EQ(info->lblOverClker->text(), "ATXP3 via i2c_i801");
      EXPECT_THAT(info->lblClkGen->toolTip().toStdString(),
                  ::testing::HasSubstr("Reached through the kernel's SMBus adapter (i2c_i801, /dev/i2c)"));
    } else {
      for (QLabel* row : {info->lblClkGen, info->lblOverClker}) {
        EXPECT_EQ(row->text(), "Left to i2c_i801");
        EXPECT_THAT(
            row->toolTip().toStdString(),
            ::testing::HasSubstr("SMBus host (ports 0x0400-0x041F) to the kernel's i2c_i801 driver. To use it "
                                 "here, unbind that driver, or start the daemon with --allow-owned-ports"));
      }
    }
    EXPECT_THAT(TextsThatDoNotFit(*info), ::testing::IsEmpty());
    EXPECT_THAT(RowsPastTheRecess(*info), ::testing::IsEmpty());
    if (const QString shots = qEnvironmentVariable("RQ_SCREENSHOT_DIR"); !shots.isEmpty())
      info->grab().save(QDir(shots).filePath(adapter ? "about-kernel-adapter.png" : "about-kernel-owned.png"));
    TearDown();
    backend.reset();
  }
}

// Every shipped board's chip names fit the information panel (saved as about-<board>.png
// to $RQ_SCREENSHOT_DIR when it is set).
TEST_F(DefaultBoard, EveryShippedBoardsChipNamesFitTheInformationPanel) {
  for (const std::string& name : sim::Board::ShippedNames()) {
    Start(false, name);
    EXPECT_THAT(TextsThatDoNotFit(*info), ::testing::IsEmpty()) << name;
    EXPECT_THAT(RowsPastTheRecess(*info), ::testing::IsEmpty()) << name;
    if (const QString shots = qEnvironmentVariable("RQ_SCREENSHOT_DIR"); !shots.isEmpty())
      info->grab().save(QDir(shots).filePath(QString::fromStdString("about-" + name + ".png")));
    TearDown();
  }
}

// The VT8237 board drives only the core supply through its pins.
TEST_F(DefaultBoard, ACoreOnlyGpioBoardHidesTheMemoryVoltage) {
  Start(false, "via-km400");
  ASSERT_NE(system->gpioVoltage, nullptr);
  EXPECT_TRUE(main->Voltage->isEnabled());
  EXPECT_TRUE(volt->lblVoltCore->isVisibleTo(volt.get()));
  EXPECT_TRUE(volt->Label1->isVisibleTo(volt.get()));
  EXPECT_FALSE(volt->lblVoltDimm->isVisibleTo(volt.get()));
  EXPECT_FALSE(volt->Label2->isVisibleTo(volt.get()));
}

TEST_F(DefaultBoard, IncrStepsOneMegahertzFromEachClockReadBack) {
  Start(false);
  ASSERT_EQ(overclock->lblNewCPUClk->text(), "133.3");
  for (int step = 0; step < 3; ++step) {
    const double before = system->fsbClock;
    overclock->IncrClick();
    ASSERT_TRUE(WaitForHardware(*overclock));
    // The PLL comes as close as its dividers allow; the label shows what it reads back.
    EXPECT_NEAR(system->fsbClock, before + 1, 0.2);
    EXPECT_NEAR(BoardFsb(), system->fsbClock, 0.1);
    EXPECT_EQ(overclock->lblNewCPUClk->text(), FormatGeneral(system->fsbClock));
    EXPECT_EQ(main->lblCPUClock->text(), FormatGeneral(system->fsbClock));
  }
  EXPECT_NEAR(system->fsbClock, 136.3, 0.3);
}

TEST_F(DefaultBoard, ClosingSoonAfterAStepDisarmsTheBoardsWatchdog) {
  Start(true);
  overclock->IncrClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  ASSERT_TRUE(WatchdogArmed());
  ASSERT_EQ(system->ReadSettingString(engine::kOverclockSection, "InWatch"), "1");
  main->close();
  EXPECT_FALSE(WatchdogArmed());
  EXPECT_EQ(system->ReadSettingString(engine::kOverclockSection, "InWatch"), "0");
}

}  // namespace
}  // namespace rq::app::test
