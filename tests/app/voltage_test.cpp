// The voltage panel with the main window and the overclock panel, on the fakes of
// AppTestSupport.h (an overclock controller reading 1.5/2.6 V, raised 1.6/2.7 V).
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>

#include "AppTestSupport.h"
#include "app/Forms.h"
#include "app/TMainForm.h"
#include "app/TOKBottomDlg.h"
#include "app/TOverclockForm.h"
#include "app/TVoltForm.h"

namespace rq::app::test {
namespace {

const char* const kWarning =
    "Suddently decrease voltage may affect the system stability especially when the over clock percentage is "
    "above 110 %. So the utility will auto-reset all the states of system to the original hardware default "
    "settings to make system stable.\n\nDo you want to proceed?";

class Voltage : public AppTest {
 protected:
  void SetUp() override { Open(BoardSpec{}); }
  void Open(const BoardSpec& spec) {
    Build(spec);
    TMainForm::Options options;
    options.sleep = [](int) {};
    options.animationDir = qEnvironmentVariable("RQ_BIN_DIR");
    main = std::make_unique<TMainForm>(*system, options);
    overclock = std::make_unique<TOverclockForm>(*system);
    volt = std::make_unique<TVoltForm>(*system);
    main->show();
  }
  void TearDown() override {
    volt.reset();
    overclock.reset();
    main.reset();
    AppTest::TearDown();
  }
  void Raise() {
    volt->btnYesClick();
    ASSERT_TRUE(WaitUntil([this] { return volt->HardwareIdle(); }));
  }
  void No() {
    volt->btnNoClick();
    ASSERT_TRUE(WaitUntil([this] { return volt->HardwareIdle(); }));
  }
  // What the panel shows: Yes/No pictures, core and memory texts.
  void ExpectShown(bool raised, const char* core, const char* memory) {
    EXPECT_EQ(volt->imgYesOn->isVisibleTo(volt.get()), raised);
    EXPECT_EQ(volt->imgYesOff->isVisibleTo(volt.get()), !raised);
    EXPECT_EQ(volt->imgNoOn->isVisibleTo(volt.get()), !raised);
    EXPECT_EQ(volt->imgNoOff->isVisibleTo(volt.get()), raised);
    EXPECT_EQ(volt->lblVoltCore->text(), core);
    EXPECT_EQ(volt->lblVoltDimm->text(), memory);
  }

  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TOverclockForm> overclock;
  std::unique_ptr<TVoltForm> volt;
};

TEST_F(Voltage, YesStoresTheChoiceAndShowsTheReadBackUntilReset) {
  EXPECT_TRUE(main->Voltage->isEnabled());
  ExpectShown(false, "1.5", "2.6");
  Raise();
  EXPECT_EQ(Setting("VoltShift"), "1");
  EXPECT_TRUE(volts->raised);
  ExpectShown(true, "1.6", "2.7");
  EXPECT_FALSE(volt->btnYes->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  overclock->ResetClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  EXPECT_EQ(Setting("VoltShift"), "0");
  ExpectShown(false, "1.5", "2.6");
}

TEST_F(Voltage, NoWithoutRaisedVoltagesAsksNothingAndChangesNothing) {
  clock->requests.clear();
  const int restores = volts->restores;
  No();
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(clock->requests.empty());
  EXPECT_EQ(volts->restores, restores);
  EXPECT_EQ(Setting("VoltShift"), "");
}

TEST_F(Voltage, CancelledWarningChangesNothing) {
  Raise();
  overclock->IncrMoreClick();
  ASSERT_TRUE(WaitForHardware(*overclock));
  clock->requests.clear();
  const int restores = volts->restores;
  modalResult = QDialog::Rejected;
  No();
  EXPECT_EQ(dialogs, std::vector<std::string>{"OKBottomDlg"});
  EXPECT_TRUE(clock->requests.empty());
  EXPECT_EQ(volts->restores, restores);
  EXPECT_TRUE(volts->raised);
  EXPECT_EQ(Setting("VoltShift"), "1");
  ExpectShown(true, "1.6", "2.7");
}

// The clock goes back to the hardware default whether or not it was raised.
TEST_F(Voltage, AcceptedWarningReturnsClockAndVoltagesToTheDefaults) {
  for (const double step : {0.0, 3.0}) {
    SCOPED_TRACE(step);
    Raise();
    if (step > 0) {
      overclock->IncrMoreClick();
      ASSERT_TRUE(WaitForHardware(*overclock));
      ASSERT_EQ(main->lblCPUClock->text(), "136.3");
    }
    clock->requests.clear();
    dialogs.clear();
    QString title, text;
    onDialog = [&](QDialog& dialog) {
      title = dialog.windowTitle();
      text = static_cast<TOKBottomDlg&>(dialog).Text();
    };
    modalResult = QDialog::Accepted;
    No();
    EXPECT_EQ(dialogs, std::vector<std::string>{"OKBottomDlg"});
    EXPECT_EQ(title, "Warning!");
    EXPECT_EQ(text.toStdString(), kWarning);
    ASSERT_EQ(clock->requests.size(), 1u);
    EXPECT_NEAR(clock->requests[0], 133.3, 1e-9);
    EXPECT_EQ(main->lblCPUClock->text(), "133.3");
    EXPECT_EQ(overclock->lblNewCPUClk->text(), "133.3");
    EXPECT_EQ(Setting("SafeFreq"), "133.3");
    EXPECT_EQ(Setting("VoltShift"), "0");
    EXPECT_FALSE(volts->raised);
    ExpectShown(false, "1.5", "2.6");
  }
}

// (A core-only GPIO board: board_test.cpp.)
TEST_F(Voltage, WithoutAControllerTheVoltageButtonIsDisabled) {
  TearDown();
  Open(BoardSpec{.overclocker = false});
  EXPECT_FALSE(main->Voltage->isEnabled());
  EXPECT_EQ(main->Voltage->Visible(), ImageButton::Picture::Disable);
}

// A GPIO controller's core reading takes seconds: the window keeps answering meanwhile.
TEST_F(Voltage, ASlowReadLeavesTheWindowThreadFree) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> reading = false;
  volts->whileReading = [&reading, released] {
    reading = true;
    released.wait_for(std::chrono::seconds(3));
  };
  QElapsedTimer timer;
  timer.start();
  volt->btnYesClick();
  EXPECT_LT(timer.elapsed(), 1000);
  ASSERT_TRUE(WaitUntil([&] { return reading.load(); }));
  bool answered = false;
  QTimer::singleShot(0, [&] { answered = true; });
  EXPECT_TRUE(WaitUntil([&] { return answered; }, 1000));
  EXPECT_FALSE(volt->HardwareIdle());
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  EXPECT_TRUE(volt->btnNo->testAttribute(Qt::WA_ForceDisabled));
  release.set_value();
  ASSERT_TRUE(WaitUntil([this] { return volt->HardwareIdle(); }));
  volts->whileReading = nullptr;
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ExpectShown(true, "1.6", "2.7");
}

}  // namespace
}  // namespace rq::app::test
