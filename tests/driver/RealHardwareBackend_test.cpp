#include "driver/RealHardwareBackend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "driver/Dispatcher.h"
#include "driver/InProcessDriverHandle.h"
#include "driver/TempDir.h"
#include "hw/IOInterface.h"

namespace rq::driver {
namespace {

using testing::TempDir;

// Records every grant and access; nothing reaches the machine's ports.
class FakePortIo : public PortIo {
 public:
  struct Shared {
    std::vector<std::pair<std::uint16_t, std::uint32_t>> enabled;
    std::map<std::uint16_t, std::uint8_t> ports;
    std::vector<std::uint16_t> touched;
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
  std::uint8_t In(std::uint16_t port) override {
    shared_.touched.push_back(port);
    return shared_.ports[port];
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    shared_.touched.push_back(port);
    shared_.ports[port] = value;
  }

 private:
  Shared& shared_;
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
    return RealHardwareBackend::Open(std::move(environment));
  }

  void SetUp() override {
    std::filesystem::create_directories(sysfs.Path() + "/bus/pci/devices");
    // A fake /dev/mem: 1 MiB, with the BIOS string where the program looks.
    std::string image(0x100000, '\0');
    const std::string bios = "TESTBOARD-1234 BIOS";
    image.replace(0xFE0C1, bios.size(), bios);
    image[0xF0000] = 'F';
    std::ofstream(memory, std::ios::binary) << image;
  }

  TempDir sysfs;
  TempDir files;
  std::string memory = files / "mem";
  FakePortIo::Shared ports;
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

TEST_F(RealHardwareTest, AllowsTheFixedPortsAndTheBlocksNamedByBaseRegisters) {
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x02, 0x24D3}, {0x20, 0x0401}});  // SMBus at 0x400
  AddPci("0000:00:1f.0", {{0x00, 0x8086}, {0x58, 0x0481}});                  // GPIO at 0x480
  AddPci("0000:00:11.0", {{0x00, 0x1106}, {0xD0, 0x0000}});                  // VIA base not set up
  auto backend = Open();

  for (std::uint16_t port :
       {0x400, 0x41F, 0x480, 0x4BF, 0x295, 0x296, 0x2E, 0x2F, 0x104A, 0x104B, 0xCF8, 0xCFF, 0x10C0, 0x10DF}) {
    EXPECT_TRUE(backend->Allowed(port)) << std::hex << port;
  }
  for (std::uint16_t port : {0x3FF, 0x420, 0x47F, 0x4C0, 0x294, 0x297, 0x80, 0x0, 0xCF7, 0xD00, 0x10E0}) {
    EXPECT_FALSE(backend->Allowed(port)) << std::hex << port;
  }
  // Exactly the allowed ranges were granted, nothing else.
  EXPECT_EQ(ports.enabled.size(), backend->AllowedPorts().size());
  EXPECT_THAT(ports.enabled, ::testing::Contains(std::make_pair(std::uint16_t{0x400}, std::uint32_t{32})));
}

TEST_F(RealHardwareTest, PortsOutsideTheListAreNeverTouched) {
  auto backend = Open();
  std::uint8_t value = 0x77;
  EXPECT_FALSE(backend->ReadPort(0x80, value));
  EXPECT_FALSE(backend->WritePort(0xCF9, 0x06));  // the reset register inside the PCI configuration range
  EXPECT_EQ(value, 0x77);
  EXPECT_TRUE(ports.touched.empty());
  EXPECT_TRUE(backend->WritePort(0x2E, 0x87));
  EXPECT_TRUE(backend->ReadPort(0x2E, value));
  EXPECT_EQ(value, 0x87);
  EXPECT_THAT(ports.touched, ::testing::ElementsAre(0x2E, 0x2E));
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
  AddPci("0000:00:1f.3", {{0x00, 0x8086}, {0x20, 0x0401}});
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
