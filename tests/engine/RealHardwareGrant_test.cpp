// The program on each shipped board through the real-hardware backend over the
// board's own ports: none of its writes is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EngineFakes.h"
#include "driver/RealHardwareBackend.h"
#include "driver/VirtualBoardBackend.h"
#include "engine/MSupport.h"
#include "engine/Sensors.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"
#include "support/InProcessDriverHandle.h"

namespace rq::engine {
namespace {

// The virtual board's port space as the machine's ports.
class BoardPorts final : public driver::PortIo {
 public:
  explicit BoardPorts(sim::Board& board) : board_(board) {}
  bool Enable(std::uint16_t, std::uint32_t) override { return true; }
  void Disable(std::uint16_t, std::uint32_t) override {}
  std::uint8_t In(std::uint16_t port) override { return (board_.Lock(), board_.Ports().In(port)); }
  void Out(std::uint16_t port, std::uint8_t value) override {
    const auto lock = board_.Lock();
    board_.Ports().Out(port, value);
  }

 private:
  sim::Board& board_;
};

// The board's PCI functions as sysfs shows a machine's, its BIOS as /dev/mem.
void WriteMachineFiles(driver::Backend& board, const std::string& root) {
  std::vector<std::uint8_t> memory(sim::BiosRom::kBase + 0x10000);
  board.ReadPhysicalMemory(sim::BiosRom::kBase, std::span(memory).subspan(sim::BiosRom::kBase));
  std::ofstream(root + "/mem", std::ios::binary)
      .write(reinterpret_cast<const char*>(memory.data()), memory.size());
  for (int function = 0; function < 32 * 8; ++function) {
    std::string config(256, '\0');
    for (int reg = 0; reg < 256; reg += 2) {
      std::uint16_t word = 0xFFFF;
      board.ReadPciConfigWord(0, static_cast<std::uint8_t>(function / 8),
                              static_cast<std::uint8_t>(function % 8), static_cast<std::uint8_t>(reg), word);
      config[reg] = static_cast<char>(word & 0xFF);
      config[reg + 1] = static_cast<char>(word >> 8);
    }
    if (config.substr(0, 2) == "\xFF\xFF") continue;
    char name[32];
    std::snprintf(name, sizeof name, "0000:00:%02x.%x", function / 8, function % 8);
    std::filesystem::create_directories(root + "/bus/pci/devices/" + name);
    std::ofstream(root + "/bus/pci/devices/" + name + "/config", std::ios::binary) << config;
  }
}

TEST(RealHardwareGrant, EveryWriteOfTheProgramOnEveryShippedBoardIsGranted) {
  for (const std::string& name : sim::Board::ShippedNames()) {
    SCOPED_TRACE(name);
    sim::ManualTimeSource time;
    auto board = sim::Board::Shipped(name, time);
    driver::VirtualBoardBackend boardBackend(*board, driver::VirtualBoardBackend::WhenHung::Fail);
    test::TempDir sysfs;
    WriteMachineFiles(boardBackend, sysfs.Path());
    std::vector<std::string> refused;
    auto gated = driver::RealHardwareBackend::Open(
        {std::make_unique<BoardPorts>(*board), sysfs.Path(), sysfs / "mem", true,
         [&refused](const std::string& line) { refused.push_back(line); }});
    testing::SettingsFolder settings;
    MSupportOptions options;
    options.settingsFile = settings.File();
    options.timing = std::make_shared<testing::FakeTiming>();
    options.openDriver = [&gated]() -> std::unique_ptr<hw::DriverHandle> {
      return std::make_unique<driver::InProcessDriverHandle>(*gated);
    };
    hw::VirtualSmbusClock clock;
    hw::ScopedSmbusClock useClock(clock);
    bool monitorFound = false;
    {
      MSupport support(options);
      monitorFound = support.hardwareMonitor != nullptr;
      if (support.clockGenerator != nullptr) {
        support.ChangeFsb(support.clockGenerator->GetFsb() + 2, true);
        support.clockGenerator->SetWatchdogTime(10);
        support.clockGenerator->EnableWatchdog(true);
        support.clockGenerator->EnableWatchdog(false);
        support.ResetToDefaultClock();
      }
      support.RaiseVoltages();
      support.RestoreVoltages();
      if (support.hardwareMonitor != nullptr) {
        ReadSensors(*support.hardwareMonitor);
        support.hardwareMonitor->ReadRegisterBanks();
        double battery = 0;
        support.hardwareMonitor->ReadVBAT(battery);
      }
    }
    // Where detection finds no monitor chip, its probe of the chip's ports is refused.
    std::erase_if(refused, [&](const std::string& line) {
      return !line.starts_with("refused") ||
             (!monitorFound && (line.find("port 0x0295") != std::string::npos ||
                                line.find("port 0x002F") != std::string::npos));
    });
    EXPECT_EQ(monitorFound, gated->Allowed(0x295));
    EXPECT_EQ(refused, std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace rq::engine
