#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iomanip>

#include "MonitorBench.h"
#include "devices/SystemFacts.h"
#include "sim/monitor/MonitorChips.h"

namespace rq::devices::testing {

void PrintTo(const Access& access, std::ostream* os) {
  *os << (access.out ? "out " : "in ") << std::hex << std::showbase << access.port << ' '
      << static_cast<int>(access.value);
}

std::uint8_t PortRecorder::In(std::uint16_t port) {
  const std::uint8_t value = inner_ != nullptr ? inner_->In(port) : 0xFF;
  log.push_back({false, port, value});
  return value;
}

void PortRecorder::Out(std::uint16_t port, std::uint8_t value) {
  log.push_back({true, port, value});
  if (inner_ != nullptr) inner_->Out(port, value);
}

int FakeMonitor::Bank(std::uint8_t reg) const { return reg >= 0x50 && reg <= 0x5F ? Get(0x4E) & 0x07 : 0; }

void FakeMonitor::Set(std::uint8_t reg, std::uint8_t value, int bank) { registers_[{bank, reg}] = value; }

std::uint8_t FakeMonitor::Get(std::uint8_t reg, int bank) const {
  const auto found = registers_.find({bank, reg});
  return found != registers_.end() ? found->second : 0;
}

std::uint8_t FakeMonitor::In(std::uint16_t port) {
  if (port == 0x295) return index_;
  if (port == 0x296) return Get(index_, Bank(index_));
  return 0xFF;
}

void FakeMonitor::Out(std::uint16_t port, std::uint8_t value) {
  if (port == 0x295) index_ = value;
  if (port == 0x296) Set(index_, value, Bank(index_));
}

BoardSection::BoardSection(const std::string& boardModel, const std::string& lines) {
  file_ = folder_ / "torvane.ini";
  std::ofstream(file_) << "[" << boardModel << "]\n" << lines;
  CurrentSystem().boardModel = boardModel;
  CurrentSystem().settingsFile = file_;
}

MonitorBench::MonitorBench(const std::string& boardModel, const std::string& settings,
                           const std::string& chipEntry)
    : section_(boardModel, settings) {
  board_ = sim::Board::FromProfileText(
      "name = \"monitor-test\"\n[bios]\nmodel = \"MONITOR TEST\"\n"
      "[cpu]\nmultiplier = 18\nmax_stable_fsb = 148.0\npower_on_fsb = 133.3\n" +
          chipEntry,
      time_);
  sim::PortDevice* beneath = &fake;
  if (auto* chip = board_->Find<sim::SuperIoMonitor>()) {
    board_->Ports().Release(*chip);
    beneath = chip;
  }
  recorder_ = std::make_unique<PortRecorder>(beneath);
  board_->Ports().Claim(0x295, 0x296, *recorder_);
  board_->Ports().Claim(0x2E, 0x2F, *recorder_);
  driver_ = std::make_unique<driver::InProcessDriverHandle>(*board_);
  handle_ = std::make_unique<hw::ScopedDriverHandle>(driver_.get());
}

MonitorBench::~MonitorBench() {
  handle_.reset();
  board_->Ports().Release(*recorder_);
}

std::string AllSensors(int value) {
  std::string lines;
  for (const char* key : {"TempSensor1", "TempSensor2", "TempSensor3", "Fan1", "Fan2", "Fan3", "VCoreA",
                          "VCoreB", "V33", "V5", "V12", "VN12", "VN5", "VBAT", "5VSB"}) {
    lines += std::string(key) + "=" + std::to_string(value) + "\n";
  }
  return lines;
}

}  // namespace rq::devices::testing
