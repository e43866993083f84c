#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "EngineFakes.h"
#include "platform/ProfileFile.h"
#include "protocol/Protocol.h"

namespace rq::engine::testing {

bool FakeTiming::WaitForEvent(platform::Event& event, std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  const std::uint64_t deadline = nowMs_ + ms;
  ++waiting_;
  changed_.notify_all();
  bool signalled = false;
  for (;;) {
    lock.unlock();
    signalled = event.Wait(0);
    lock.lock();
    if (signalled || nowMs_ >= deadline) break;
    // Real time only polls the event here; it never stands for the simulated wait.
    changed_.wait_for(lock, std::chrono::milliseconds(1));
  }
  --waiting_;
  ++passes_;
  changed_.notify_all();
  return signalled;
}

void FakeTiming::Sleep(std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  sleeps_.push_back(ms);
}

void FakeTiming::AdvanceOneSecond() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return waiting_ > 0; });
  const std::uint64_t before = passes_;
  nowMs_ += 1000;
  changed_.notify_all();
  changed_.wait(lock, [&] { return passes_ > before; });
}

std::vector<std::uint32_t> FakeTiming::Sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

bool ClockGenState::WatchdogOn() const {
  std::lock_guard lock(mutex);
  return watchdogOn;
}

std::vector<double> ClockGenState::SetFsbCalls() const {
  std::lock_guard lock(mutex);
  return setFsbCalls;
}

std::vector<std::string> ClockGenState::Log() const {
  std::lock_guard lock(mutex);
  return log;
}

FakeClockGen::FakeClockGen(std::shared_ptr<ClockGenState> state, std::string model)
    : state_(std::move(state)) {
  model_ = std::move(model);
  description_ = "fake clock generator";
}

bool FakeClockGen::Detect() { return state_->present; }

void FakeClockGen::SetWatchdogTime(int seconds) {
  std::lock_guard lock(state_->mutex);
  state_->watchdogSeconds = seconds;
  state_->log.push_back("time " + std::to_string(seconds));
}

void FakeClockGen::EnableWatchdog(bool on) {
  std::lock_guard lock(state_->mutex);
  state_->watchdogOn = on;
  if (on) ++state_->watchdogEnables;
  state_->log.push_back(on ? "wd on" : "wd off");
}

double FakeClockGen::GetDefaultFsb() {
  std::lock_guard lock(state_->mutex);
  return state_->defaultFsb;
}

void FakeClockGen::SetFsb(double mhz) {
  std::function<void(double)> hook;
  {
    std::lock_guard lock(state_->mutex);
    hook = state_->onSetFsb;
  }
  if (hook) hook(mhz);
  std::lock_guard lock(state_->mutex);
  state_->setFsbCalls.push_back(mhz);
  state_->fsb = mhz;
  char text[32];
  std::snprintf(text, sizeof text, "set %g", mhz);
  state_->log.emplace_back(text);
}

double FakeClockGen::GetFsb() {
  std::lock_guard lock(state_->mutex);
  return state_->fsb;
}

FakeDriverHandle::FakeDriverHandle(const std::string& biosModel) {
  constexpr std::uint32_t kBiosModelAddress = 0xFE0C1;
  for (std::size_t i = 0; i < biosModel.size(); ++i) {
    memory_[kBiosModelAddress + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(biosModel[i]);
  }
}

bool FakeDriverHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  namespace mem = protocol::memory_request;
  if (code != protocol::kIoctlReadPhysicalMemory || length < mem::kHeaderLength) return false;
  std::uint32_t address = 0;
  std::memcpy(&address, buffer + mem::kAddress, 4);
  const std::uint32_t count = length - mem::kHeaderLength;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto found = memory_.find(address + i);
    buffer[mem::kData + i] = found == memory_.end() ? 0 : found->second;
  }
  return true;
}

SettingsFolder::SettingsFolder() {
  file_ = folder_ / "torvane.ini";
  // The single-instance lock lives in the runtime folder; keep it private to the test.
  ::setenv("RQ_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
}

void SettingsFolder::Write(const std::string& key, const std::string& value, const std::string& section) {
  platform::WritePrivateProfileString(section, key, value, file_);
}

std::string SettingsFolder::Read(const std::string& key, const std::string& section) const {
  return platform::GetPrivateProfileString(section, key, "", file_);
}

bool SettingsFolder::Has(const std::string& key, const std::string& section) const {
  return platform::GetPrivateProfileString(section, key, "<absent>", file_) != "<absent>";
}

MSupportOptions FakeBoardOptions(const SettingsFolder& settings, const std::string& biosModel,
                                 std::shared_ptr<ClockGenState> clockGen,
                                 std::shared_ptr<FakeTiming> timing) {
  MSupportOptions options;
  options.settingsFile = settings.File();
  options.timing = std::move(timing);
  options.openDriver = [biosModel]() -> std::unique_ptr<hw::DriverHandle> {
    return std::make_unique<FakeDriverHandle>(biosModel);
  };
  options.northBridgeCandidates = [] {
    devices::CandidateList<devices::PciMchIo> list;
    list.push_back([] { return std::make_unique<FakeNorthBridge>("NB-1", true); });
    return list;
  };
  options.clockGeneratorCandidates = [clockGen](const std::string&) {
    devices::CandidateList<devices::I2cClockGenIo> list;
    if (clockGen != nullptr) list.push_back([clockGen] { return std::make_unique<FakeClockGen>(clockGen); });
    return list;
  };
  options.hardwareMonitorCandidates = [] { return devices::CandidateList<devices::ISAHwMonitorIo>{}; };
  options.overclockControllerCandidates = [] { return devices::CandidateList<devices::I2cOverclkIo>{}; };
  options.gpioVoltageCandidates = [] { return devices::CandidateList<devices::GpioVoltIo>{}; };
  return options;
}

}  // namespace rq::engine::testing
