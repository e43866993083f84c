#pragma once
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/northbridge/PciMchIo.h"
#include "engine/MSupport.h"
#include "engine/Timing.h"
#include "hw/DriverHandle.h"
#include "support/TempDir.h"

namespace rq::engine::testing {

// Time that moves only when the test says so. The watchdog thread's one-second
// waits end when the test advances the clock (or the event is signalled); the
// settle sleep of a clock change returns at once and is only recorded.
class FakeTiming : public Timing {
 public:
  bool WaitForEvent(platform::Event& event, std::uint32_t ms) override;
  void Sleep(std::uint32_t ms) override;

  // Waits until a watcher sits in WaitForEvent, lets one second pass and waits
  // until that wait has returned.
  void AdvanceOneSecond();
  void AdvanceSeconds(int seconds) {
    for (int i = 0; i < seconds; ++i) AdvanceOneSecond();
  }
  std::vector<std::uint32_t> Sleeps() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t nowMs_ = 0;
  int waiting_ = 0;
  std::uint64_t passes_ = 0;
  std::vector<std::uint32_t> sleeps_;
};

// What a fake clock generator has been asked to do; shared with the test because
// the system object owns the chip.
struct ClockGenState {
  mutable std::mutex mutex;
  bool present = true;
  double defaultFsb = 133.0;
  double fsb = 133.0;
  double highestFsb = 400.0;  // what the PLL can make at most
  bool watchdogOn = false;
  int watchdogSeconds = 0;
  int watchdogEnables = 0;  // EnableWatchdog(true) calls
  std::vector<double> setFsbCalls;
  std::vector<std::string> log;          // "time 40", "wd on", "wd off", "set 150"
  std::function<void(double)> onSetFsb;  // runs inside SetFsb, before the change

  bool WatchdogOn() const;
  std::vector<double> SetFsbCalls() const;
  std::vector<std::string> Log() const;
};

class FakeClockGen : public devices::I2cClockGenIo {
 public:
  explicit FakeClockGen(std::shared_ptr<ClockGenState> state, std::string model = "FAKE-CG");
  unsigned GetCpuDivider() override { return 1; }
  unsigned GetAgpDivider() override { return 1; }
  unsigned GetPciDivider() override { return 1; }
  unsigned GetPllM() override { return 0; }
  unsigned GetPllN() override { return 0; }
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;
  void SetFsb(double mhz) override;
  double GetFsb() override;
  double GetAgpClock(double fsb) override { return fsb * 2.0 / 4.0; }
  double GetPciClock(double fsb) override { return fsb / 4.0; }
  double GetMemRefClock() override { return 0.0; }
  double GetHighestFsb() override { return state_->highestFsb; }

 private:
  std::shared_ptr<ClockGenState> state_;
};

class FakeNorthBridge : public devices::PciMchIo {
 public:
  FakeNorthBridge(std::string model, bool present, std::vector<std::string>* probed = nullptr)
      : PciMchIo(model, model + " hub", false), present_(present), probed_(probed) {}
  bool Detect() override {
    if (probed_ != nullptr) probed_->push_back(GetModel());
    return present_;
  }
  double GetMemoryClock(double fsb) override { return fsb * 2.0; }

 private:
  bool present_;
  std::vector<std::string>* probed_;
};

// A driver that answers only physical-memory reads, from a byte map.
class FakeDriverHandle : public hw::DriverHandle {
 public:
  explicit FakeDriverHandle(const std::string& biosModel);
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;

 private:
  std::map<std::uint32_t, std::uint8_t> memory_;
};

// A settings file in a fresh folder, and a runtime folder for the instance lock.
class SettingsFolder {
 public:
  SettingsFolder();
  const std::string& File() const { return file_; }
  void Write(const std::string& key, const std::string& value, const std::string& section = "Overclock");
  std::string Read(const std::string& key, const std::string& section = "Overclock") const;
  bool Has(const std::string& key, const std::string& section = "Overclock") const;

 private:
  test::TempDir folder_;
  std::string file_;
};

// Options for a system object on a fake board: the given BIOS string, the clock
// generator (absent when `clockGen` is null) and one present north bridge.
MSupportOptions FakeBoardOptions(const SettingsFolder& settings, const std::string& biosModel,
                                 std::shared_ptr<ClockGenState> clockGen, std::shared_ptr<FakeTiming> timing);

}  // namespace rq::engine::testing
