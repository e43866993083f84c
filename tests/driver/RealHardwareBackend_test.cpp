#include "driver/RealHardwareBackend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "driver/Dispatcher.h"
#include "hw/IOInterface.h"
#include "support/InProcessDriverHandle.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

using test::TempDir;

// Records every grant and access; nothing reaches the machine's ports.
class FakePortIo : public PortIo {
 public:
  struct Shared {
    std::vector<std::pair<std::uint16_t, std::uint32_t>> enabled;
    std::map<std::uint16_t, std::uint8_t> ports;
    std::vector<std::uint16_t> touched;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> written;
    std::map<std::uint8_t, std::uint8_t> monitor;  // registers behind 0x295/0x296; empty: no chip
    std::uint8_t monitorIndex = 0;
    int failWith = 0;
  };
  explicit FakePortIo(Shared& shared) : shared_(shared) {}
  bool Enable(std::uint16_t first, std::uint32_t count) override {
    if (shared_.failWith != 0) {
      errno = shared_.failWith;
      return false;
    }
    shared_.enabled.emplace_back(first, count);
    return true;
  }
  void Disable(std::uint16_t first, std::uint32_t n) override {
    std::erase(shared_.enabled, std::pair(first, n));
  }
  std::uint8_t In(std::uint16_t port) override {
    shared_.touched.push_back(port);
    if (port == 0x296 && !shared_.monitor.empty()) return shared_.monitor[shared_.monitorIndex];
    return shared_.ports.contains(port) ? shared_.ports[port] : 0xFF;
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    shared_.touched.push_back(port);
    shared_.written.emplace_back(port, value);
    if (port == 0x295) shared_.monitorIndex = value;
    shared_.ports[port] = value;
  }

 private:
  Shared& shared_;
};

// /dev/i2c-N as the kernel's adapter answers: records each call, block reads give 0 31 18.
struct FakeI2c : I2cDevice {
  std::vector<std::string>& calls;
  unsigned long& functions;
  FakeI2c(std::vector<std::string>& c, unsigned long& f) : calls(c), functions(f) {}
  int Call(const std::string& call, int result) { return calls.push_back(call), result; }
  int Open(const std::string& path) override { return Call("open " + path, 7); }
  void Close(int fd) override { Call("close " + std::to_string(fd), 0); }
  bool Functions(int, unsigned long& f) override { return f = functions, true; }
  bool SelectSlave(int, std::uint8_t slave) override { return Call("slave " + std::to_string(slave), 1); }
  std::int32_t ReadByteData(int, std::uint8_t) override { return Call("read byte", 0); }
  std::int32_t WriteByteData(int, std::uint8_t command, std::uint8_t value) override {
    return Call("write byte " + std::to_string(command) + "=" + std::to_string(value), 0);
  }
  std::int32_t ReadBlockData(int, std::uint8_t command, std::uint8_t* values) override {
    values[0] = 0, values[1] = 31, values[2] = 18;
    return Call("read block " + std::to_string(command), 3);
  }
  std::int32_t WriteBlockData(int, std::uint8_t command, std::uint8_t length,
                              const std::uint8_t* values) override {
    return Call("write block " + std::to_string(command) + ": " + std::to_string(length) + " from " +
                    std::to_string(values[0]),
                0);
  }
};

class RealHardwareTest : public ::testing::Test {
 protected:
  // A PCI function's configuration space in the fake sysfs, with a few words set.
  void AddPci(const std::string& name, std::map<std::uint8_t, std::uint16_t> words) {
    const auto folder = std::filesystem::path(sysfs.Path()) / "bus/pci/devices" / name;
    std::filesystem::create_directories(folder);
    std::string config(256, '\0');
    for (const auto& [offset, word] : words) {
      config[offset] = static_cast<char>(word & 0xFF);
      config[offset + 1] = static_cast<char>(word >> 8);
    }
    std::ofstream(folder / "config", std::ios::binary) << config;
  }

  std::unique_ptr<RealHardwareBackend> Open(bool root = true) {
    RealHardwareBackend::Environment environment;
    environment.ports = std::make_unique<FakePortIo>(ports);
    environment.sysfsRoot = sysfs.Path();
    environment.memoryDevice = memory;
    environment.root = root;
    environment.log = [this](const std::string& line) { log.push_back(line); };
    environment.ioportsPath = files / "ioports";
    environment.allowOwnedPorts = allowOwned;
    environment.i2c = std::make_unique<FakeI2c>(i2cCalls, i2cFunctions);
    environment.deviceFolder = "/fakedev";
    auto backend = RealHardwareBackend::Open(std::move(environment));
    ports.touched.clear(), ports.written.clear();
    return backend;
  }

  void SetUp() override {
    std::filesystem::create_directories(sysfs.Path() + "/bus/pci/devices");
    // A fake /dev/mem: 1 MiB, with the BIOS string where the program looks.
    std::string image(0x100000, '\0');
    const std::string bios = "TESTBOARD-1234 BIOS";
    image.replace(0xFE0C1, bios.size(), bios);
    image[0xF0000] = 'F';
    std::ofstream(memory, std::ios::binary) << image;
    ports.monitor = {{0x4E, 0x80}, {0x4F, 0x5C}};  // a Winbond chip, vendor high byte selected
    ports.ports[0x104B] = 0x00;                    // the watchdog ports answer
  }

  TempDir sysfs;
  TempDir files;
  std::string memory = files / "mem";
  FakePortIo::Shared ports;
  std::vector<std::string> i2cCalls;
  unsigned long i2cFunctions = 0x031F0000;  // I2C_FUNCS of an ICH host's adapter
  std::vector<std::string> log;
  bool allowOwned = false;
};

TEST_F(RealHardwareTest, RefusesToStartWithoutRoot) {
  try {
    Open(false);
    FAIL() << "started without root";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("root"));
  }
  EXPECT_TRUE(ports.enabled.empty());
}

TEST_F(RealHardwareTest, NoPortIoOnThisKindOfMachineIsSaidPlainly) {
  ports.failWith = ENOSYS;
  try {
    Open();
    FAIL() << "started without port access";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("no port I/O"));
  }
}

TEST_F(RealHardwareTest, AllowsTheFixedPortsAndTheBlocksOfSupportedDevices) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});  // ICH5 SMBus at 0x400
  AddPci("0000:00:1f.0", {{0x00, 0x8086}, {0x02, 0x24D0}, {0x58, 0x0481}});  // ICH5 GPIO at 0x480
  AddPci("0000:00:11.0", {{0x00, 0x1106}, {0x02, 0x3227}, {0xD0, 0x0000}});  // VIA base not set up
  auto backend = Open();

  for (std::uint16_t port : {0x400, 0x41F, 0x480, 0x4BF, 0x295, 0x296, 0x2E, 0x2F, 0x104A, 0x104B}) {
    EXPECT_TRUE(backend->Allowed(port)) << std::hex << port;
  }
  for (std::uint16_t port : {0x3FF, 0x420, 0x47F, 0x4C0, 0x294, 0x297, 0x80, 0x0, 0xCF7, 0xCF8, 0xCF9, 0xCFC,
                             0xCFF, 0xD00, 0x10C0}) {
    EXPECT_FALSE(backend->Allowed(port)) << std::hex << port;
  }
  // Exactly the allowed ranges were granted, nothing else.
  EXPECT_EQ(ports.enabled.size(), backend->AllowedPorts().size());
  EXPECT_THAT(ports.enabled, ::testing::Contains(std::make_pair(std::uint16_t{0x400}, std::uint32_t{32})));
}

// A base register counts only on the device the program drives there: another
// device at the same location (or a known one whose base points at system ports)
// opens nothing.
TEST_F(RealHardwareTest, BaseRegistersOfOtherDevicesOpenNothing) {
  struct Case {
    const char* name;
    std::map<std::uint8_t, std::uint16_t> words;
    std::uint16_t probe;
    bool allowed;
  };
  const Case cases[] = {
      {"0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0501}}, 0x500, true},
      {"0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x2930}, {0x20, 0x0501}}, 0x500, false},  // a later ICH
      {"0000:00:1f.3", {{0x00, 0x1022}, {0x02, 0x24D3}, {0x20, 0x0501}}, 0x500, false},  // other vendor
      {"0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0061}}, 0x64, false},  // keyboard controller
      {"0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0CE1}}, 0xCF9, false},   // PCI configuration
      {"0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0xFFF1}}, 0xFFF0, false},  // runs off the end
      {"0000:00:11.0", {{0x00, 0x1106}, {0x02, 0x3147}, {0xD0, 0x0601}, {0x88, 0x0701}}, 0x600, true},
      {"0000:00:11.0", {{0x00, 0x1106}, {0x02, 0x3147}, {0xD0, 0x0601}, {0x88, 0x0701}}, 0x700, false},
      {"0000:00:11.0", {{0x00, 0x1106}, {0x02, 0x3227}, {0xD0, 0x0601}, {0x88, 0x0701}}, 0x700, true},
      {"0000:00:01.1", {{0x00, 0x10DE}, {0x02, 0x0084}, {0x54, 0x0801}}, 0x800, false},
      {"0000:00:1f.0", {{0x00, 0x8086}, {0x02, 0x2440}, {0x58, 0x0901}}, 0x900, true},
      {"0000:00:1f.0", {{0x00, 0x8086}, {0x02, 0x2410}, {0x58, 0x0901}}, 0x900, false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(std::filesystem::path(sysfs.Path()) / "bus/pci/devices");
    AddPci(c.name, c.words);
    EXPECT_EQ(Open()->Allowed(c.probe), c.allowed) << c.name << " port " << std::hex << c.probe;
  }
}

TEST_F(RealHardwareTest, SisBlocksNeedTheSisSouthBridge) {
  AddPci("0000:00:00.0", {{0x00, 0x1039}, {0x02, 0x0648}, {0x68, 0x0A01}});
  EXPECT_FALSE(Open()->Allowed(0x10C0));
  EXPECT_FALSE(Open()->Allowed(0xA00));
  AddPci("0000:00:02.0", {{0x00, 0x1039}, {0x02, 0x0008}});
  EXPECT_TRUE(Open()->Allowed(0x10C0));
  EXPECT_TRUE(Open()->Allowed(0x10DF));
  EXPECT_TRUE(Open()->Allowed(0xA7F));
  AddPci("0000:00:00.0", {{0x00, 0x8086}, {0x02, 0x2570}, {0x68, 0x0A01}});  // GPIO base of a non-SiS host
  EXPECT_FALSE(Open()->Allowed(0xA00));
}

TEST_F(RealHardwareTest, PortsOutsideTheListAreNeverTouched) {
  auto backend = Open();
  std::uint8_t value = 0x77;
  EXPECT_FALSE(backend->ReadPort(0x80, value));
  EXPECT_FALSE(backend->WritePort(0xCF9, 0x06));  // reset control
  EXPECT_FALSE(backend->WritePort(0xCF8, 0x80));  // configuration address
  EXPECT_FALSE(backend->WritePort(0xCFC, 0x00));  // configuration data
  EXPECT_FALSE(backend->ReadPort(0xCFC, value));
  EXPECT_EQ(value, 0x77);
  EXPECT_TRUE(ports.touched.empty());
}

// The monitor chips' identification through 0x2E/0x2F, byte for byte: entry key,
// the two chip ID registers, leaving configuration mode. Anything else is refused
// and never reaches a port.
TEST_F(RealHardwareTest, SuperIoPairPassesOnlyTheIdentificationSequence) {
  struct Step {
    std::uint16_t port;
    std::uint8_t value;
    bool passes;
  };
  const Step identification[] = {
      {0x2F, 0x00, false},  // data before the key
      {0x2E, 0x20, false},  // register select before the key
      {0x2E, 0x87, true},  {0x2E, 0x01, true}, {0x2E, 0x55, true}, {0x2E, 0x55, true},
      {0x2E, 0x20, true},                       // chip ID, high byte
      {0x2F, 0x87, false},                      // no data write to an ID register
      {0x2E, 0x21, true},                       // chip ID, low byte
      {0x2E, 0x07, false},                      // logical device select
      {0x2E, 0x60, false},                      // a base address register
      {0x2E, 0x02, true},                       // configuration control
      {0x2F, 0x03, false},                      // bit 0 resets every logical device
      {0x2F, 0x01, false}, {0x2F, 0x02, true},  // back to "wait for key"
      {0x2E, 0x02, false},                      // configuration mode is closed again
      {0x2F, 0x02, false}, {0x2E, 0x87, true}, {0x2E, 0x01, true}, {0x2E, 0x87, true},  // the key starts over
      {0x2E, 0x01, true},  {0x2E, 0x55, true}, {0x2E, 0x55, true}, {0x2E, 0x21, true},
  };
  auto backend = Open();
  std::vector<std::uint16_t> expectedTouches;
  int step = 0;
  for (const Step& s : identification) {
    EXPECT_EQ(backend->WritePort(s.port, s.value), s.passes)
        << "step " << step << std::hex << " port " << s.port << " value " << int{s.value};
    if (s.passes) expectedTouches.push_back(s.port);
    ++step;
  }
  EXPECT_EQ(ports.touched, expectedTouches);
  std::uint8_t value = 0;
  EXPECT_TRUE(backend->ReadPort(0x2F, value));  // reads only show what the index selects
}

// An indexed request is checked as a whole: neither port is written when either
// side is refused.
TEST_F(RealHardwareTest, IndexedAccessChecksBothPortsFirst) {
  auto backend = Open();
  std::uint8_t value = 0x77;
  EXPECT_FALSE(backend->WriteIndexed(0x295, 0x80, 0x4E, 0x80));  // data port outside the list
  EXPECT_FALSE(backend->ReadIndexed(0x295, 0x80, 0x4E, value));
  EXPECT_FALSE(backend->WriteIndexed(0x80, 0x296, 0x4E, 0x80));
  EXPECT_FALSE(backend->WriteIndexed(0x2E, 0x2F, 0x87, 0x01));  // a key byte, then a data write
  EXPECT_TRUE(ports.touched.empty());
  EXPECT_EQ(value, 0x77);

  for (std::uint8_t key : {0x87, 0x01, 0x55, 0x55}) ASSERT_TRUE(backend->WritePort(0x2E, key));
  ports.ports[0x2F] = 0x87;
  EXPECT_TRUE(backend->ReadIndexed(0x2E, 0x2F, 0x20, value));
  EXPECT_EQ(value, 0x87);
  EXPECT_FALSE(backend->WriteIndexed(0x2E, 0x2F, 0x02, 0x03));
  EXPECT_TRUE(backend->WriteIndexed(0x2E, 0x2F, 0x02, 0x02));
  EXPECT_TRUE(backend->WriteIndexed(0x295, 0x296, 0x4E, 0x80));
  EXPECT_THAT(ports.touched,
              ::testing::ElementsAre(0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2F, 0x2E, 0x2F, 0x295, 0x296));
}

// Every block at register level, with the host's address register (or the
// monitor's selected register) preset where a rule reads it back.
TEST_F(RealHardwareTest, WritesReachOnlyTheRegistersAndValuesTheProgramWrites) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});  // ICH5 SMBus at 0x400
  AddPci("0000:00:1f.0", {{0x00, 0x8086}, {0x02, 0x24D0}, {0x58, 0x0481}});  // ICH5 GPIO at 0x480
  AddPci("0000:00:11.0", {{0x00, 0x1106}, {0x02, 0x3227}, {0xD0, 0x0601}, {0x88, 0x0701}});
  AddPci("0000:00:01.1", {{0x00, 0x10DE}, {0x02, 0x0064}, {0x54, 0x0801}});
  AddPci("0000:00:02.0", {{0x00, 0x1039}, {0x02, 0x0008}});
  AddPci("0000:00:00.0", {{0x00, 0x1039}, {0x02, 0x0648}, {0x68, 0x0A01}});
  // preset: a port that holds presetValue first, as another program left it.
  struct Case {
    std::uint16_t port, preset;
    std::uint8_t presetValue, value;
    bool passes;
  };
  const Case cases[] = {
      {0x404, 0, 0, 0xA0, 0},        {0x404, 0, 0, 0xA1, 0},        {0x404, 0, 0, 0x30, 0},
      {0x404, 0, 0, 0x9C, 1},        {0x401, 0, 0, 0x00, 0},        {0x408, 0, 0, 0x00, 0},
      {0x402, 0x404, 0xA1, 0x48, 0}, {0x402, 0x404, 0xA1, 0x02, 1}, {0x480, 0, 0, 0xFF, 0},
      {0x48C, 0, 0, 0xFF, 0},        {0x48E, 0, 0, 0x08, 1},        {0x604, 0, 0, 0xA0, 0},
      {0x704, 0, 0, 0x20, 0},        {0x74C, 0, 0, 0x00, 0},        {0x74F, 0, 0, 0x20, 1},
      {0x801, 0, 0, 0x00, 0},        {0x802, 0, 0, 0xA0, 0},        {0x800, 0x802, 0xA0, 0x07, 0},
      {0x10C1, 0, 0, 0x00, 0},       {0x10C4, 0, 0, 0xA1, 0},       {0x10C3, 0x10C4, 0xA1, 0x15, 0},
      {0xA60, 0, 0, 0x00, 0},        {0x296, 0x295, 0x40, 0x01, 0}, {0x296, 0x295, 0x00, 0x40, 0},
      {0x296, 0x295, 0x4E, 0x05, 1}, {0x104B, 0, 0, 0x80, 0},
  };
  auto backend = Open();
  for (const Case& c : cases) {
    ports.ports[c.preset] = c.presetValue;
    if (c.preset == 0x295) backend->WritePort(0x295, c.presetValue);
    ports.written.clear();
    log.clear();
    EXPECT_EQ(backend->WritePort(c.port, c.value), c.passes) << std::hex << c.port << " " << int{c.value};
    // Written, or refused with one log line and nothing written.
    EXPECT_EQ(std::make_pair(ports.written.size(), log.size()),
              std::make_pair(c.passes * 1ul, !c.passes * 1ul));
  }
}

// An ITE chip takes only its battery-measurement bit; with no chip there the
// fixed blocks are not granted at all.
TEST_F(RealHardwareTest, FixedBlocksFollowTheChipThatAnswers) {
  ports.monitor = {{0x58, 0x90}, {0x00, 0x11}};
  auto backend = Open();
  EXPECT_TRUE(backend->WriteIndexed(0x295, 0x296, 0x00, 0x51));
  EXPECT_TRUE(backend->WriteIndexed(0x295, 0x296, 0x4E, 0x80));   // detection asks for a Winbond chip first
  EXPECT_FALSE(backend->WriteIndexed(0x295, 0x296, 0x00, 0xD1));  // bit 7 reinitialises the chip
  EXPECT_EQ(ports.monitorIndex, 0x4E);  // reading register 0x00 for the check left 0x4E selected
  EXPECT_THAT(log, ::testing::ElementsAre(::testing::HasSubstr("writing 0xD1 to port 0x0296")));
  EXPECT_FALSE(backend->WriteIndexed(0x295, 0x296, 0x4E, 0x05));
  ports.monitor.clear();
  ports.ports.erase(0x104B);
  ports.enabled.clear();
  backend = Open();
  EXPECT_FALSE(backend->Allowed(0x295));
  EXPECT_EQ(ports.enabled.size(), backend->AllowedPorts().size());
  EXPECT_FALSE(backend->WritePort(0x104B, 0x9F));
  EXPECT_TRUE(ports.written.empty());
}

// A block a kernel driver drives (bound to its PCI function, or claiming its
// ports) stays the driver's, and the log names it; the bus's, firmware's and PCI
// functions' own reservations are no driver.
TEST_F(RealHardwareTest, BlocksAKernelDriverDrivesAreLeftToIt) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});
  AddPci("0000:00:1f.0", {{0x00, 0x8086}, {0x02, 0x24D0}, {0x58, 0x0481}});
  std::filesystem::create_symlink("../../../bus/pci/drivers/i801_smbus",
                                  sysfs / "bus/pci/devices/0000:00:1f.3/driver");
  std::ofstream(files / "ioports")
      << "0000-0cf7 : PCI Bus 0000:00\n  0290-029f : pnp 00:0a\n"
         "    0290-0297 : w83627hf\n  0480-04bf : 0000:00:1f.0\n    0480-04bf : pnp 00:01\n";
  auto backend = Open();
  EXPECT_FALSE(backend->Allowed(0x400));
  EXPECT_FALSE(backend->Allowed(0x295));
  EXPECT_TRUE(backend->Allowed(0x480));
  EXPECT_THAT(log, ::testing::ElementsAre(::testing::HasSubstr("0x041F is driven by the kernel's i801_smbus"),
                                          ::testing::HasSubstr("registered no I2C adapter"),
                                          ::testing::HasSubstr("0x0296 is driven by the kernel's w83627hf")));
  allowOwned = true;
  EXPECT_TRUE(Open()->Allowed(0x400));
}

TEST_F(RealHardwareTest, AnSmbusHostTheKernelOwnsIsReachedThroughItsAdapter) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});
  std::filesystem::create_symlink("../../../bus/pci/drivers/i801_smbus",
                                  sysfs / "bus/pci/devices/0000:00:1f.3/driver");
  std::filesystem::create_directories(sysfs / "bus/pci/devices/0000:00:1f.3/i2c-3");
  EXPECT_FALSE(Open()->HasSmbusAdapter(0x400));
  EXPECT_THAT(log.back(), ::testing::HasSubstr("the i2c-dev module is not loaded"));

  std::filesystem::create_directories(sysfs / "class/i2c-dev/i2c-3");
  i2cFunctions = 0x00180000;  // byte data without block data
  EXPECT_FALSE(Open()->HasSmbusAdapter(0x400));
  EXPECT_THAT(i2cCalls, ::testing::ElementsAre("open /fakedev/i2c-3", "close 7"));

  i2cFunctions = 0x031F0000, i2cCalls.clear();
  auto backend = Open();
  EXPECT_TRUE(backend->HasSmbusAdapter(0x400));
  EXPECT_FALSE(backend->HasSmbusAdapter(0x500));
  EXPECT_EQ(backend->SmbusAdapterPath(0x400), "/fakedev/i2c-3");
  SmbusTransfer read{SmbusTransfer::Kind::kReadBlockData, 0x69, 0x00, {}},
      write{SmbusTransfer::Kind::kWriteBlockData, 0x69, 0x00, {9, 31}},
      writeByte{SmbusTransfer::Kind::kWriteByteData, 0x4E, 0x05, {0x7F}};
  ASSERT_TRUE(backend->SmbusTransaction(0x400, read) && backend->SmbusTransaction(0x400, write) &&
              backend->SmbusTransaction(0x400, writeByte));
  EXPECT_THAT(read.data, ::testing::ElementsAre(0, 31, 18));
  EXPECT_THAT(i2cCalls,
              ::testing::ElementsAre("open /fakedev/i2c-3", "slave 105", "read block 0", "slave 105",
                                     "write block 0: 2 from 9", "slave 78", "write byte 5=127"));
  EXPECT_TRUE(ports.touched.empty());
}

TEST_F(RealHardwareTest, PciWordsComeFromSysfsAndAbsentFunctionsReadAllOnes) {
  AddPci("0000:00:00.0", {{0x00, 0x8086}, {0x02, 0x2570}, {0x68, 0x1234}});
  auto backend = Open();
  std::uint16_t value = 0;
  ASSERT_TRUE(backend->ReadPciConfigWord(0, 0, 0, 0x02, value));
  EXPECT_EQ(value, 0x2570);
  ASSERT_TRUE(backend->ReadPciConfigWord(0, 0, 0, 0x69, value));  // an odd offset straddles two bytes
  EXPECT_EQ(value, 0x0012);
  ASSERT_TRUE(backend->ReadPciConfigWord(0, 5, 0, 0x00, value));
  EXPECT_EQ(value, 0xFFFF);
  EXPECT_FALSE(backend->ReadPciConfigWord(0, 0, 0, 0xFF, value));  // runs off the end of the space
}

TEST_F(RealHardwareTest, PhysicalMemoryOnlyInsideTheBiosArea) {
  auto backend = Open();
  std::vector<std::uint8_t> text(19);
  ASSERT_TRUE(backend->ReadPhysicalMemory(0xFE0C1, text));
  EXPECT_EQ(std::string(text.begin(), text.end()), "TESTBOARD-1234 BIOS");
  std::uint8_t one = 0;
  ASSERT_TRUE(backend->ReadPhysicalMemory(0xF0000, std::span(&one, 1)));
  EXPECT_EQ(one, 'F');
  std::vector<std::uint8_t> out(4);
  EXPECT_FALSE(backend->ReadPhysicalMemory(0xEFFFF, out));     // starts below
  EXPECT_FALSE(backend->ReadPhysicalMemory(0xFFFFE, out));     // runs past the end
  EXPECT_FALSE(backend->ReadPhysicalMemory(0xFFFFFFFF, out));  // wraps
  EXPECT_TRUE(backend->ReadPhysicalMemory(0xFFFFC, out));
}

TEST_F(RealHardwareTest, ServesTheChannelThroughTheDecoder) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});
  auto backend = Open();
  InProcessDriverHandle handle(*backend);
  hw::ScopedDriverHandle scope(&handle);
  hw::IOInterface io;
  EXPECT_EQ(io.ReadPciConfigWord(0, 31, 3, 0x20), 0x0401);
  std::uint8_t text[11] = {};
  ASSERT_TRUE(io.ReadPhysicalMemory(0xFE0C1, text, sizeof text));
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "TESTBOARD-");
  EXPECT_TRUE(io.WriteIndexedByte({0x295, 0x296}, 0x4E, 0x80));
  std::uint32_t value = 0;
  EXPECT_FALSE(io.ReadIndexedByte({0x80, 0x81}, 0, value));
}

}  // namespace
}  // namespace rq::driver
