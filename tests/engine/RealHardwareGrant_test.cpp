// The program on each shipped board through the real-hardware backend over the
// board's own ports: none of its writes is refused; and on a board whose kernel
// drives the SMBus host and the monitor chip, it goes through the kernel's paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "EngineFakes.h"
#include "driver/Daemon.h"
#include "driver/RealHardwareBackend.h"
#include "engine/DevicePaths.h"
#include "engine/Formatting.h"
#include "engine/MSupport.h"
#include "engine/Sensors.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "sim/monitor/HwmonTree.h"
#include "sim/TimeSource.h"
#include "support/InProcessDriverHandle.h"
#include "support/ScopedEnv.h"

namespace rq::engine {
namespace {

// The virtual board's port space as the machine's ports, each access recorded.
struct BoardPorts final : driver::PortIo {
  explicit BoardPorts(sim::Board& b, std::vector<std::uint16_t>* t = nullptr) : board(b), touched(t) {}
  bool Enable(std::uint16_t, std::uint32_t) override { return true; }
  void Disable(std::uint16_t, std::uint32_t) override {}
  std::uint8_t In(std::uint16_t port) override { return Touch(port), board.Lock(), board.Ports().In(port); }
  void Out(std::uint16_t port, std::uint8_t value) override {
    (Touch(port), board.Lock(), board.Ports().Out(port, value));
  }
  void Touch(std::uint16_t port) {
    if (touched != nullptr) touched->push_back(port);
  }
  sim::Board& board;
  std::vector<std::uint16_t>* touched;
};

// /dev/i2c-N of the kernel's adapter of the board's SMBus host: each call one
// transaction on the board's devices, as the kernel's driver would run it.
struct BoardI2c final : driver::I2cDevice {
  explicit BoardI2c(sim::Board& b) : board(b) {}
  int Open(const std::string&) override { return 7; }
  void Close(int) override {}
  bool Functions(int, unsigned long& functions) override { return functions = 0x031F0000, true; }
  bool SelectSlave(int, std::uint8_t address) override { return slave = address, true; }
  std::int32_t ReadByteData(int, std::uint8_t command) override {
    std::uint8_t value = 0;
    return Device() && Device()->ReadByteData(command, value) ? value : -1;
  }
  std::int32_t WriteByteData(int, std::uint8_t command, std::uint8_t value) override {
    return Device() && Device()->WriteByteData(command, value) ? 0 : -1;
  }
  std::int32_t ReadBlockData(int, std::uint8_t command, std::uint8_t* values) override {
    std::vector<std::uint8_t> data;
    if (!Device() || !Device()->BlockRead(command, data) || data.size() > 32) return -1;
    std::copy(data.begin(), data.end(), values);
    return static_cast<std::int32_t>(data.size());
  }
  std::int32_t WriteBlockData(int, std::uint8_t command, std::uint8_t length, const std::uint8_t* values) override {
    return Device() && Device()->BlockWrite(command, std::span(values, length)) ? 0 : -1;
  }
  sim::SmbusDevice* Device() { return board.Smbus().Find(slave); }
  sim::Board& board;
  std::uint8_t slave = 0;
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

// i801_smbus bound to the ICH5's SMBus function (its adapter i2c-3 under i2c-dev) and
// w83627hf holding the monitor's ports: the daemon grants neither block and says what
// serves each; the program reaches the clock generator through the adapter and reads
// the monitor from the driver's hwmon files, and neither block's ports are touched.
TEST(RealHardwareGrant, ABoardTheKernelDrivesIsServedThroughTheKernelsPaths) {
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped("default", time);
  test::TempDir sysfs;
  WriteMachineFiles(*board, sysfs.Path());
  const std::filesystem::path host = sysfs / "bus/pci/devices/0000:00:1f.3";
  std::filesystem::create_symlink("../../../bus/pci/drivers/i801_smbus", host / "driver");
  std::filesystem::create_directories(host / "i2c-3");
  std::filesystem::create_directories(sysfs / "class/i2c-dev/i2c-3");
  std::ofstream(sysfs / "ioports") << "0000-0cf7 : PCI Bus 0000:00\n  0290-0297 : w83627hf\n";
  std::string error;
  ASSERT_TRUE(sim::WriteHwmonTree(*board, sysfs.Path(), error)) << error;
  test::ScopedEnv useSysfs("RQ_SYSFS_ROOT", sysfs.Path());

  std::vector<std::uint16_t> touched;
  std::vector<std::string> log;
  auto gated = driver::RealHardwareBackend::Open(
      {std::make_unique<BoardPorts>(*board, &touched), sysfs.Path(), sysfs / "mem", true,
       [&log](const std::string& line) { log.push_back(line); }, sysfs / "ioports", false,
       std::make_unique<BoardI2c>(*board), "/fakedev"});
  nlohmann::json kept = nlohmann::json::array();
  for (const nlohmann::json& block : driver::DescribeGrants(*gated))
    if (!block.contains("granted")) kept.push_back(block);
  EXPECT_EQ(kept.dump(),
            R"([{"first":1024,"kernelDriver":"i801_smbus","last":1055,"servedThrough":"/fakedev/i2c-3",)"
            R"("what":"Intel SMBus host"},{"first":661,"kernelDriver":"w83627hf","last":662,)"
            R"("what":"hardware monitor index/data"}])");

  testing::SettingsFolder settings;
  MSupportOptions options;
  options.openDriver = [&gated] { return std::make_unique<driver::InProcessDriverHandle>(*gated); };
  options.kernelOwnedBlocks = [&kept] {
    return hw::ParseKernelOwnedBlocks(nlohmann::json{{"realHardware", true}, {"ports", kept}}.dump());
  };
  options.settingsFile = settings.File();
  options.timing = std::make_shared<testing::FakeTiming>();
  hw::VirtualSmbusClock clock;
  hw::ScopedSmbusClock useClock(clock);
  {
    MSupport support(options);
    ASSERT_NE(support.clockGenerator, nullptr);
    EXPECT_EQ(support.clockGenerator->GetModel(), "ICS950218");
    EXPECT_EQ(SmbusKernelDriver(support), "i801_smbus");
    EXPECT_EQ(MonitorKernelDriver(support), "w83627hf");
    EXPECT_TRUE(support.ChangeFsb(140, true));
    EXPECT_NEAR((board->Lock(), board->Processor().Fsb()), 140, 0.6);
    // The driver's files as they are now (the start set the memory supply), read with
    // the board's dividers: what the ports give on this board.
    ASSERT_TRUE(sim::WriteHwmonTree(*board, sysfs.Path(), error)) << error;
    std::string readings;
    for (const SensorReading& reading : ReadSensors(*support.hardwareMonitor))
      readings += FloatToText(reading.value) + " ";
    EXPECT_EQ(readings, "34 49 3668 1854 1.52 2.5 3.31 5.03 12.1 -12.03 3.06 5.02 ");
  }
  std::erase_if(touched, [](std::uint16_t port) {
    return !(port >= 0x290 && port <= 0x297) && !(port >= 0x400 && port <= 0x41F);
  });
  EXPECT_EQ(touched, std::vector<std::uint16_t>{});
}

}  // namespace
}  // namespace rq::engine
