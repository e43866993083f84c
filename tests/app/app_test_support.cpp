#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "AppTestSupport.h"
#include "app/TOverclockForm.h"
#include "app/WindowThread.h"
#include "devices/Rounding.h"
#include "engine/Timing.h"
#include "hw/DriverHandle.h"
#include "platform/Event.h"
#include "platform/WindowThread.h"

namespace rq::app::test {
namespace {

// A driver that is there but answers nothing: the fakes need no hardware.
class SilentDriver : public hw::DriverHandle {
 public:
  bool DeviceIoControl(std::uint32_t, std::uint8_t*, std::uint32_t) override { return false; }
};

// The watchdog thread's seconds pass at once and the settle sleep is skipped.
class InstantTimingImpl : public engine::Timing {
 public:
  bool WaitForEvent(platform::Event& event, std::uint32_t) override { return event.Wait(0); }
  void Sleep(std::uint32_t) override {}
};

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

bool WaitForHardware(const TOverclockForm& form) {
  return WaitUntil([&] { return form.HardwareIdle(); });
}

std::shared_ptr<engine::Timing> InstantTiming() { return std::make_shared<InstantTimingImpl>(); }

void FakeClockGen::SetFsb(double mhz) {
  if (state_->whileSetting) state_->whileSetting();
  state_->requests.push_back(mhz);
  state_->fsb = devices::RoundTo<double>(mhz, 1);
}

void AppTest::Build(const BoardSpec& spec) {
  dir = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(dir->isValid());
  engine::MSupportOptions options;
  options.settingsFile = QDir(dir->path()).filePath("torvane.ini").toStdString();
  options.openDriver = [] { return std::make_unique<SilentDriver>(); };
  if (!spec.realTiming) options.timing = InstantTiming();
  const auto clockState = clock;
  const bool withClock = spec.clockGenerator;
  options.clockGeneratorCandidates = [clockState, withClock](const std::string&) {
    devices::CandidateList<devices::I2cClockGenIo> list;
    if (withClock) list.push_back([clockState] { return std::make_unique<FakeClockGen>(clockState); });
    return list;
  };
  const bool withBridge = spec.northBridge;
  options.northBridgeCandidates = [withBridge] {
    devices::CandidateList<devices::PciMchIo> list;
    if (withBridge) list.push_back([] { return std::make_unique<FakeNorthBridge>(); });
    return list;
  };
  const auto voltState = volts;
  const bool withVolts = spec.overclocker;
  options.overclockControllerCandidates = [voltState, withVolts] {
    devices::CandidateList<devices::I2cOverclkIo> list;
    if (withVolts) list.push_back([voltState] { return std::make_unique<FakeOverclocker>(voltState); });
    return list;
  };
  options.hardwareMonitorCandidates = [chip = monitor] {
    devices::CandidateList<devices::ISAHwMonitorIo> list;
    if (chip) list.push_back(chip);
    return list;
  };
  options.makeHwMonitorThread = monitorThread;
  options.gpioVoltageCandidates = [] { return devices::CandidateList<devices::GpioVoltIo>{}; };
  system.reset();
  system = std::make_unique<engine::MSupport>(std::move(options));
  ASSERT_FALSE(system->anotherInstance);

  WindowThreadDispatcher::Instance().Install();
  SetModalHook([this](QDialog& dialog) {
    dialogs.push_back(dialog.objectName().toStdString());
    if (onDialog) onDialog(dialog);
    return modalResult;
  });
  platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
    messages.push_back({text, caption, flags});
    return platform::kIdOk;
  });
}

void AppTest::TearDown() {
  SetModalHook({});
  WindowThreadDispatcher::Instance().BeginClosing();
  system.reset();
  platform::SetMessageBoxHandler({});
  platform::SetWindowThreadDispatcher({});
  QApplication::processEvents();
}

std::string AppTest::Setting(const std::string& key) const {
  return system->ReadSettingString(engine::kOverclockSection, key);
}

void AppTest::WriteSetting(const std::string& key, const std::string& value) const {
  system->WriteSettingString(engine::kOverclockSection, key, value);
}

}  // namespace rq::app::test

int main(int argc, char** argv) {
  // Every run gets its own runtime folder (single-instance lock, exit event).
  QTemporaryDir runtime;
  qputenv("RQ_RUNTIME_DIR", runtime.path().toLocal8Bit());
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qgetenv("RQ_BIN_DIR").isEmpty()) qputenv("RQ_BIN_DIR", RQ_TEST_BIN_DIR);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
