#pragma once
#include <gtest/gtest.h>

#include <QDialog>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Modal.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/monitor/ISAHwMonitorIo.h"
#include "devices/northbridge/PciMchIo.h"
#include "devices/overclock/I2cOverclkIo.h"
#include "engine/MSupport.h"
#include "engine/Timing.h"
#include "platform/MessageBox.h"

namespace rq::app {
class TOverclockForm;
}

namespace rq::app::test {

// A clock generator in memory: reads back what was last programmed (to 0.1 MHz,
// as a PLL would come close), records every request and its watchdog.
class FakeClockGen : public devices::I2cClockGenIo {
 public:
  struct State {
    double defaultFsb = 133.3;
    double fsb = 133.3;
    std::vector<double> requests;
    bool watchdogEnabled = false;
    std::function<void()> whileSetting;  // runs inside SetFsb, on the caller's thread
  };
  explicit FakeClockGen(std::shared_ptr<State> state) : state_(std::move(state)) {
    model_ = "ICS950218";
    description_ = "Programmable clock generator with watchdog";
  }
  unsigned GetCpuDivider() override { return 1; }
  unsigned GetAgpDivider() override { return 2; }
  unsigned GetPciDivider() override { return 4; }
  unsigned GetPllM() override { return 1; }
  unsigned GetPllN() override { return 1; }
  bool Detect() override { return true; }
  void SetWatchdogTime(int) override {}
  void EnableWatchdog(bool on) override { state_->watchdogEnabled = on; }
  double GetDefaultFsb() override { return state_->defaultFsb; }
  void SetFsb(double mhz) override;
  double GetFsb() override { return state_->fsb; }
  double GetAgpClock(double fsb) override { return fsb / 2; }
  double GetPciClock(double fsb) override { return fsb / 4; }
  double GetMemRefClock() override { return 0; }

 private:
  std::shared_ptr<State> state_;
};

class FakeNorthBridge : public devices::PciMchIo {
 public:
  FakeNorthBridge() : PciMchIo("Intel 865PE", "Intel 865PE memory controller hub", false) {}
  bool Detect() override { return true; }
  double GetMemoryClock(double fsb) override { return fsb * 5 / 4; }
};

class FakeOverclocker : public devices::I2cOverclkIo {
 public:
  struct State {
    int restores = 0;
    bool raised = false;
    std::function<void()> whileReading;  // runs inside ReadCoreVoltage, on the caller's thread
  };
  explicit FakeOverclocker(std::shared_ptr<State> state) : state_(std::move(state)) {
    modelName_ = "ATXP3";
    description_ = "Jumper-free overclock controller";
  }
  bool Probe() override { return true; }
  double ReadDefaultCoreVoltage() override { return 1.5; }
  double ReadCoreVoltage() override {
    if (state_->whileReading) state_->whileReading();
    return state_->raised ? 1.6 : 1.5;
  }
  double ReadMemoryVoltage() override { return state_->raised ? 2.7 : 2.6; }
  void RaiseCoreVoltage() override { state_->raised = true; }
  void RaiseMemoryVoltage() override { state_->raised = true; }
  void RestoreCoreVoltage() override {
    ++state_->restores;
    state_->raised = false;
  }
  void RestoreMemoryVoltage() override { state_->raised = false; }
  void SetCoreVoltage(double) override {}
  void SetMemoryVoltage(double) override {}

 private:
  std::shared_ptr<State> state_;
};

// Processes window-thread events until `done` holds or `ms` have passed.
bool WaitUntil(const std::function<bool()>& done, int ms = 5000);
// Until the panel's steps and reset have ended and shown their results.
bool WaitForHardware(const TOverclockForm& form);

// Waits of the watchdog thread and the settle sleep that pass at once.
std::shared_ptr<engine::Timing> InstantTiming();

// What the board of a test carries.
struct BoardSpec {
  bool clockGenerator = true;
  bool northBridge = true;
  bool overclocker = true;
  bool realTiming = false;  // the watchdog thread counts real seconds
};

// A system object on a board made of the fakes above, its settings file in a
// temporary folder; modal dialogs and message boxes are answered by the test.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(BoardSpec{}); }
  void TearDown() override;
  void Build(const BoardSpec& spec);

  std::string Setting(const std::string& key) const;
  void WriteSetting(const std::string& key, const std::string& value) const;

  // Dialogs shown through ExecModal, by object name, answered with `modalResult`.
  std::vector<std::string> dialogs;
  int modalResult = QDialog::Rejected;
  std::function<void(QDialog&)> onDialog;
  struct Message {
    std::string text, caption;
    unsigned flags;
  };
  std::vector<Message> messages;

  // The board's hardware monitor chip and the thread the system object makes for
  // it, when a test sets them before Build.
  std::function<std::unique_ptr<devices::ISAHwMonitorIo>()> monitor;
  std::function<std::unique_ptr<platform::WorkerThread>(engine::MSupport&)> monitorThread;

  std::unique_ptr<QTemporaryDir> dir;
  std::shared_ptr<FakeClockGen::State> clock = std::make_shared<FakeClockGen::State>();
  std::shared_ptr<FakeOverclocker::State> volts = std::make_shared<FakeOverclocker::State>();
  std::unique_ptr<engine::MSupport> system;
};

}  // namespace rq::app::test
