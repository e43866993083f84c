// Worker threads and the window thread: synchronised calls, closing while a worker
// waits for the window thread, the CPU speed thread and the exit event.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "AppTestSupport.h"
#include "app/CPUSpeedThread.h"
#include "app/TMainForm.h"
#include "app/TOKBottomDlg.h"
#include "app/TOverclockForm.h"
#include "app/TStatusMsgForm.h"
#include "app/TVoltForm.h"
#include "app/VerifyWindows.h"
#include "app/WindowThread.h"
#include "platform/NamedEvent.h"
#include "platform/WindowThread.h"
#include "verify/VerifySystem.h"

namespace rq::app::test {
namespace {

// Processes events until `done` or the time runs out.
TEST(WindowThread, WorkFromAWorkerRunsOnTheWindowThreadAndErrorsComeBack) {
  WindowThreadDispatcher::Instance().Install();
  std::atomic<bool> ranOnWindowThread{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> errorSeen{false};
  QThread* windowThread = QThread::currentThread();
  std::thread worker([&] {
    platform::Synchronize([&] { ranOnWindowThread = QThread::currentThread() == windowThread; });
    try {
      platform::Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      errorSeen = true;
    }
    finished = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnWindowThread);
  EXPECT_TRUE(errorSeen);
}

TEST(WindowThread, ClosingReleasesAWorkerThatWaitsForTheWindowThread) {
  WindowThreadDispatcher::Instance().Install();
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    platform::Synchronize([&] { ran = true; });
    returned = true;
  });
  // The window thread does not process events: it waits for the worker, as the
  // close handler waits for a verification thread.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  WindowThreadDispatcher::Instance().BeginClosing();
  worker.join();
  EXPECT_TRUE(returned);
  QApplication::processEvents();  // the queued call must not run late either
  EXPECT_FALSE(ran);
  // New work is refused at once, and message boxes from workers return Cancel.
  std::thread late([&] { platform::Synchronize([&] { ran = true; }); });
  late.join();
  EXPECT_FALSE(ran);
  WindowThreadDispatcher::Instance().Reopen();
}

// A close that arrives while a worker's message box is open ("Result" at the end of
// a verification) is handled inside that box's event loop: the close handler closes
// the dispatcher and then waits for the worker without running events.
TEST(WindowThread, ClosingAnswersAndDismissesTheBoxAWorkerWaitsFor) {
  struct Case {
    unsigned flags;
    int answer;
  };
  for (const Case& c : {Case{platform::kMbIconInformation, platform::kIdOk},
                        Case{platform::kMbOkCancel | platform::kMbIconWarning, platform::kIdCancel}}) {
    WindowThreadDispatcher::Instance().Install();
    std::atomic<bool> returned{false};
    std::atomic<int> answer{-1};
    std::thread worker([&] {
      answer = platform::MessageBox("Current CPU clock has been verified successfully!", "Result", c.flags);
      returned = true;
    });
    bool released = false;
    bool forcedClose = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QWidget* box = QApplication::activeModalWidget();
      if (box == nullptr) return;
      poll.stop();
      WindowThreadDispatcher::Instance().BeginClosing();
      for (int ms = 0; ms < 2000 && !returned; ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      released = returned;
      // Lets this test end instead of hanging when the box stays open.
      QTimer::singleShot(released ? 2000 : 0, box, [&, box] {
        forcedClose = true;
        box->close();
      });
    });
    poll.start(5);
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(answer, c.answer);
    EXPECT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
    EXPECT_FALSE(forcedClose);
    // Once closing, a worker's box is not shown and gets the same answer at once.
    std::thread late([&] { answer = platform::MessageBox("Later", "Result", c.flags); });
    late.join();
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    WindowThreadDispatcher::Instance().Reopen();
  }
}

TEST(CpuSpeed, UsesTheLow32BitsOfTheCounterDifference) {
  EXPECT_DOUBLE_EQ(CpuSpeedFromCounters(1000, 1000 + 1'200'000'000ull), 2400.0);
  // A counter that wrapped its low word still measures the right span.
  EXPECT_DOUBLE_EQ(CpuSpeedFromCounters(0xFFFF'FFF0ull, 0xFFFF'FFF0ull + 500'000'000ull), 1000.0);
  // Beyond 2^32 ticks in the window the high bits are dropped.
  EXPECT_DOUBLE_EQ(CpuSpeedFromCounters(0, (1ull << 32) + 500'000), 1.0);
}

class CpuSpeedThreadTest : public AppTest {};

TEST_F(CpuSpeedThreadTest, MeasuresWithTheDriverCounterWhenItAnswersElseTheProcessors) {
  std::vector<std::uint32_t> sleeps;
  std::uint64_t driverTicks = 0, cpuTicks = 0;
  bool driverAnswers = true;
  CPUSpeedThread thread(
      *system,
      [&]() -> std::optional<std::uint64_t> {
        if (!driverAnswers) return std::nullopt;
        return driverTicks += 1'066'650'000;  // 2133.3 MHz over 500 ms
      },
      [&]() -> std::optional<std::uint64_t> { return cpuTicks += 1'500'000'000; },
      [&](std::uint32_t ms) {
        sleeps.push_back(ms);
        return true;
      });
  auto speed = thread.Measure();
  ASSERT_TRUE(speed);
  EXPECT_DOUBLE_EQ(*speed, 2133.3);
  EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{10, 500}));
  driverAnswers = false;
  speed = thread.Measure();
  ASSERT_TRUE(speed);
  EXPECT_DOUBLE_EQ(*speed, 3000.0);
}

TEST_F(CpuSpeedThreadTest, RefreshesTheMainWindowOnTheWindowThread) {
  TMainForm main(*system);
  main.show();
  std::atomic<int> periods{0};
  auto thread = std::make_unique<CPUSpeedThread>(
      *system, [] { return std::optional<std::uint64_t>(); },
      [n = std::uint64_t{0}]() mutable -> std::optional<std::uint64_t> { return n += 1'200'000'000; },
      [&](std::uint32_t ms) {
        if (ms == 1000) ++periods;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
      });
  thread->Start();
  EXPECT_TRUE(WaitUntil([&] { return main.lblCPUSpeed->text() == "2400.0"; }));
  EXPECT_DOUBLE_EQ(system->cpuSpeed, 2400.0);
  // As the program does before the system object stops this thread: a thread in a
  // synchronised call is let go instead of waiting for this (blocked) window thread.
  WindowThreadDispatcher::Instance().BeginClosing();
  thread->Shutdown();
  EXPECT_GE(periods.load(), 1);
}

class ClosingTest : public AppTest {
 protected:
  void SetUp() override { Build(BoardSpec{.realTiming = true}); }
};

TEST_F(ClosingTest, ClosingWithinTenSecondsOfAStepDisarmsTheWatchdog) {
  TMainForm main(*system);
  TOverclockForm overclock(*system);
  main.show();
  overclock.IncrClick();
  ASSERT_TRUE(WaitForHardware(overclock));
  ASSERT_TRUE(system->WatchdogRunning());
  ASSERT_TRUE(clock->watchdogEnabled);
  ASSERT_EQ(Setting("InWatch"), "1");
  QElapsedTimer timer;
  timer.start();
  main.close();
  EXPECT_LT(timer.elapsed(), 3000);
  EXPECT_FALSE(system->WatchdogRunning());
  EXPECT_FALSE(clock->watchdogEnabled);
  EXPECT_EQ(Setting("InWatch"), "0");
}

// A clock change that takes its time, let go by the test (or after 3 s).
class SlowClockChange {
 public:
  explicit SlowClockChange(FakeClockGen::State& clock) {
    clock.whileSetting = [this] {
      entered = true;
      std::unique_lock lock(mutex_);
      cv_.wait_for(lock, std::chrono::seconds(3), [this] { return released_; });
    };
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::atomic<bool> entered{false};

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

TEST_F(ClosingTest, AStepRunsOffTheWindowThreadWithItsButtonBusy) {
  TMainForm main(*system);
  TOverclockForm overclock(*system);
  main.show();
  SlowClockChange slow(*clock);
  clock->requests.clear();
  QElapsedTimer timer;
  timer.start();
  overclock.IncrClick();
  EXPECT_LT(timer.elapsed(), 500);
  ASSERT_TRUE(WaitUntil([&] { return slow.entered.load(); }));
  EXPECT_TRUE(overclock.Incr->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_EQ(overclock.Incr->cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(main.Exit->isEnabled());
  // Another step asked for meanwhile follows from the clock the first one leaves.
  overclock.IncrMoreClick();
  slow.Release();
  ASSERT_TRUE(WaitForHardware(overclock));
  ASSERT_EQ(clock->requests.size(), 2u);
  EXPECT_NEAR(clock->requests[1], 137.3, 1e-9);
  EXPECT_EQ(overclock.lblNewCPUClk->text(), "137.3");
  EXPECT_EQ(main.lblCPUClock->text(), "137.3");
  EXPECT_FALSE(overclock.Incr->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_EQ(overclock.Incr->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ClosingTest, ClosingDuringAStepLetsItEndThenDisarmsTheWatchdog) {
  TMainForm main(*system);
  TOverclockForm overclock(*system);
  main.show();
  SlowClockChange slow(*clock);
  clock->requests.clear();
  overclock.IncrClick();
  ASSERT_TRUE(WaitUntil([&] { return slow.entered.load(); }));
  overclock.IncrClick();  // queued: dropped by the close
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    slow.Release();
  });
  main.close();
  releaser.join();
  EXPECT_EQ(clock->requests.size(), 1u);
  EXPECT_FALSE(system->WatchdogRunning());
  EXPECT_FALSE(clock->watchdogEnabled);
  EXPECT_EQ(Setting("InWatch"), "0");
}

TEST_F(ClosingTest, ExitEventFromAnotherProcessClosesTheMainWindow) {
  TMainForm main(*system);
  main.show();
  ASSERT_TRUE(main.isVisible());
  // Signalled by name, as the rhomboquest-exit command does.
  ASSERT_TRUE(WaitUntil([] { return platform::NamedEvent::SignalByName(platform::kExitEventName); }));
  EXPECT_TRUE(WaitUntil([&] { return !main.isVisible(); }));
}

TEST_F(ClosingTest, CloseHandlerDoesNotDeadlockOnAWorkerInsideASynchronisedCall) {
  TMainForm main(*system);
  main.show();
  // A worker that keeps asking the window thread for work, as the CPU speed and
  // verification threads do; the close handler then waits for threads.
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) platform::Synchronize([&] { main.RefreshReadouts(); });
  });
  WaitUntil([] { return false; }, 50);
  QElapsedTimer timer;
  timer.start();
  main.close();
  stop = true;
  worker.join();
  EXPECT_LT(timer.elapsed(), 3000);
}

class VerifyWindowsTest : public AppTest {};

TEST_F(VerifyWindowsTest, WorkerDrivesTheStatusWindowAndTheWindowsThroughTheWindowThread) {
  TMainForm main(*system);
  TOverclockForm overclock(*system);
  TVoltForm voltage(*system);
  voltage.open = true;  // slid out: the pass must still take it away from the user
  voltage.setEnabled(true);
  main.show();
  VerifyWindows windows;
  std::atomic<bool> abort{false};
  verify::VerifySystem pass(*system, windows, abort);
  std::atomic<int> step{0};
  std::thread worker([&] {
    windows.SetWindowsEnabled(false);
    windows.ShowStatusWindow(pass);
    step = 1;
    while (step != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    windows.CloseStatusWindow();
    windows.SetWindowsEnabled(true);
    step = 3;
  });
  ASSERT_TRUE(WaitUntil([&] { return step == 1; }));
  EXPECT_FALSE(main.isEnabled());
  EXPECT_FALSE(voltage.isEnabled());
  auto* status = main.findChild<TStatusMsgForm*>();
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->isVisible());
  status->BtnCancel->click();
  EXPECT_TRUE(pass.Cancelled());
  step = 2;
  ASSERT_TRUE(WaitUntil([&] { return step == 3; }));
  worker.join();
  EXPECT_EQ(main.findChild<TStatusMsgForm*>(), nullptr);
  EXPECT_TRUE(main.isEnabled());
  EXPECT_FALSE(overclock.isEnabled());  // a closed panel stays disabled
  EXPECT_TRUE(voltage.isEnabled());
}

TEST(Dialogs, OnlyOkProceedsFromTheConfirmation) {
  auto run = [](const std::function<void(TOKBottomDlg&)>& answer) {
    TOKBottomDlg dialog(nullptr);
    dialog.AddLine("Do you want to proceed?");
    QTimer::singleShot(0, &dialog, [&] { answer(dialog); });
    return dialog.exec();
  };
  EXPECT_NE(run([](TOKBottomDlg& d) { d.CancelBtn->click(); }), QDialog::Accepted);
  EXPECT_NE(run([](TOKBottomDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }), QDialog::Accepted);
  EXPECT_NE(run([](TOKBottomDlg& d) { d.close(); }), QDialog::Accepted);
  EXPECT_EQ(run([](TOKBottomDlg& d) { d.OKBtn->click(); }), QDialog::Accepted);
  EXPECT_EQ(run([](TOKBottomDlg& d) { QTest::keyClick(&d, Qt::Key_Return); }), QDialog::Accepted);
}

TEST(Dialogs, ConfirmationKeepsEveryLineIncludingEmptyOnes) {
  TOKBottomDlg dialog(nullptr);
  for (const char* line : {"first", "", "second"}) dialog.AddLine(line);
  EXPECT_EQ(dialog.Text(), "first\n\nsecond");
  EXPECT_TRUE(dialog.Memo1->isReadOnly());
  EXPECT_TRUE(dialog.OKBtn->isDefault());
  EXPECT_EQ(dialog.size(), QSize(370, 227));
}

TEST(Dialogs, StatusWindowCancelReachesTheTestPass) {
  int cancelled = 0;
  TStatusMsgForm status(nullptr, [&] { ++cancelled; });
  EXPECT_EQ(status.windowTitle(), "Testing...");
  EXPECT_TRUE(status.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(status.BtnCancel->text(), "&Cancel");
  status.BtnCancel->click();
  EXPECT_EQ(cancelled, 1);
}

}  // namespace
}  // namespace rq::app::test
