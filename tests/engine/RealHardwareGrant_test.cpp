// The program on each shipped board through the real-hardware backend over the
// board's own ports: none of its writes is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "EngineFakes.h"
#include "driver/RealHardwareBackend.h"
#include "engine/MSupport.h"
#include "engine/Sensors.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"
#include "support/InProcessDriverHandle.h"

namespace rq::engine {
namespace {

// The virtual board's port space as the machine's ports.
struct BoardPorts final : driver::PortIo {
  explicit BoardPorts(sim::Board& b) : board(b) {}
  bool Enable(std::uint16_t, std::uint32_t) override { return true; }
  void Disable(std::uint16_t, std::uint32_t) override {}
  std::uint8_t In(std::uint16_t port) override { return (board.Lock(), board.Ports().In(port)); }
  void Out(std::uint16_t port, std::uint8_t value) override {
    (board.Lock(), board.Ports().Out(port, value));
  }
  sim::Board& board;
};

// The board's PCI functions as sysfs shows a machine's, its BIOS as /dev/mem.
void WriteMachineFiles(sim::Board& board, const std::string& root) {
  std::vector<std::uint8_t> memory(sim::BiosRom::kBase + 0x10000);
  board.Bios().Read(sim::BiosRom::kBase, std::span(memory).subspan(sim::BiosRom::kBase));
  std::ofstream(root + "/mem", std::ios::binary) << std::string(memory.begin(), memory.end());
  for (const auto& [at, function] : board.Pci().Functions()) {
    char name[64];
    std::snprintf(name, sizeof name, "/bus/pci/devices/0000:%02x:%02x.%x", at.bus, at.device, at.function);
    std::filesystem::create_directories(root + name);
    std::ofstream config(root + name + "/config", std::ios::binary);
    for (int reg = 0; reg < 256; ++reg)
      config << char(function->ReadConfigByte(static_cast<std::uint8_t>(reg)));
  }
}

TEST(RealHardwareGrant, EveryWriteOfTheProgramOnEveryShippedBoardIsGranted) {
  for (const std::string& name : sim::Board::ShippedNames()) {
    SCOPED_TRACE(name);
    sim::ManualTimeSource time;
    auto board = sim::Board::Shipped(name, time);
    test::TempDir sysfs;
    WriteMachineFiles(*board, sysfs.Path());
    std::vector<std::string> refused;
    auto gated = driver::RealHardwareBackend::Open(
        {std::make_unique<BoardPorts>(*board), sysfs.Path(), sysfs / "mem", true,
         [&refused](const std::string& line) { refused.push_back(line); }, sysfs / "ioports"});
    testing::SettingsFolder settings;
    MSupportOptions options;
    options.openDriver = [&gated] { return std::make_unique<driver::InProcessDriverHandle>(*gated); };
    options.settingsFile = settings.File();
    options.timing = std::make_shared<testing::FakeTiming>();
    hw::VirtualSmbusClock clock;
    hw::ScopedSmbusClock useClock(clock);
    bool monitorFound = false;
    {
      MSupport support(options);
      monitorFound = support.hardwareMonitor != nullptr;
      if (support.clockGenerator && support.ChangeFsb(support.clockGenerator->GetFsb() + 2, true))
        support.ResetToDefaultClock();
      support.RaiseVoltages();
      support.RestoreVoltages();
      if (double battery = 0; monitorFound) {
        ReadSensors(*support.hardwareMonitor);
        support.hardwareMonitor->ReadRegisterBanks();
        support.hardwareMonitor->ReadVBAT(battery);
      }
    }
    // Where detection finds no monitor chip, its probe of the chip's ports is refused.
    std::erase_if(refused, [&](const std::string& line) {
      return !line.starts_with("refused") ||
             (!monitorFound && std::regex_search(line, std::regex("port 0x(0295|002F)")));
    });
    EXPECT_EQ(monitorFound, gated->Allowed(0x295));
    EXPECT_EQ(refused, std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace rq::engine
