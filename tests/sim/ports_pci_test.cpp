#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "sim/Pci.h"
#include "sim/PortSpace.h"

namespace rq::sim {
namespace {

class RecordingDevice : public PortDevice {
 public:
  std::uint8_t In(std::uint16_t port) override { return static_cast<std::uint8_t>(port & 0xFF); }
  void Out(std::uint16_t port, std::uint8_t value) override {
    lastPort = port;
    lastValue = value;
  }
  std::uint16_t lastPort = 0;
  std::uint8_t lastValue = 0;
};

TEST(PortSpace, RoutesClaimedPortsAndFloatsTheRest) {
  PortSpace ports;
  RecordingDevice device;
  ports.Claim(0x290, 0x297, device);
  EXPECT_EQ(ports.In(0x295), 0x95);
  ports.Out(0x296, 0x4E);
  EXPECT_EQ(device.lastPort, 0x296);
  EXPECT_EQ(device.lastValue, 0x4E);
  EXPECT_EQ(ports.In(0x28F), 0xFF);
  EXPECT_EQ(ports.In(0x298), 0xFF);
  ports.Out(0x298, 0x12);  // nobody listens
  EXPECT_EQ(device.lastPort, 0x296);
  EXPECT_TRUE(ports.Claimed(0x290));
  EXPECT_FALSE(ports.Claimed(0x298));
}

TEST(PortSpace, RefusesOverlapsButAcceptsNeighbours) {
  PortSpace ports;
  RecordingDevice a, b;
  ports.Claim(0x400, 0x40F, a);
  EXPECT_THROW(ports.Claim(0x40F, 0x410, b), std::invalid_argument);
  EXPECT_THROW(ports.Claim(0x3F0, 0x400, b), std::invalid_argument);
  EXPECT_THROW(ports.Claim(0x3F0, 0x420, b), std::invalid_argument);
  EXPECT_THROW(ports.Claim(0x404, 0x405, b), std::invalid_argument);
  EXPECT_THROW(ports.Claim(0x500, 0x4FF, b), std::invalid_argument);
  ports.Claim(0x3F0, 0x3FF, b);
  ports.Claim(0x410, 0x410, b);
  EXPECT_EQ(ports.In(0x3FF), 0xFF);  // b echoes the low byte: 0xFF here by coincidence
  EXPECT_EQ(ports.In(0x410), 0x10);
  ports.Release(b);
  EXPECT_FALSE(ports.Claimed(0x410));
  EXPECT_TRUE(ports.Claimed(0x400));
  ports.Claim(0xFFF0, 0xFFFF, b);  // the very top of the space
  EXPECT_EQ(ports.In(0xFFFF), 0xFF);
  EXPECT_TRUE(ports.Claimed(0xFFFF));
}

std::array<std::uint8_t, 256> Image(std::uint16_t vendor, std::uint16_t device) {
  std::array<std::uint8_t, 256> image{};
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i);
  }
  image[0] = vendor & 0xFF;
  image[1] = vendor >> 8;
  image[2] = device & 0xFF;
  image[3] = device >> 8;
  return image;
}

class PciBusTest : public ::testing::Test {
 protected:
  PciBusTest() : smbus({0, 31, 3}, Image(0x8086, 0x24D3)) {
    bus.Attach(ports);
    bus.Add(smbus);
  }
  void Select(std::uint32_t address) {
    for (int i = 0; i < 4; ++i) {
      ports.Out(static_cast<std::uint16_t>(PciBus::kConfigAddressPort + i),
                static_cast<std::uint8_t>(address >> (8 * i)));
    }
  }
  static std::uint32_t Address(unsigned bus, unsigned dev, unsigned fn, unsigned reg) {
    return 0x80000000U | bus << 16 | dev << 11 | fn << 8 | (reg & 0xFC);
  }
  PortSpace ports;
  PciBus bus;
  PciFunction smbus;
};

TEST_F(PciBusTest, DirectReadsAndAbsentFunctions) {
  EXPECT_EQ(bus.ReadConfigWord({0, 31, 3}, 0x00), 0x8086);
  EXPECT_EQ(bus.ReadConfigWord({0, 31, 3}, 0x02), 0x24D3);
  EXPECT_EQ(bus.ReadConfigWord({0, 31, 3}, 0x21), 0x2221);  // unaligned word
  EXPECT_EQ(bus.ReadConfigWord({0, 31, 3}, 0xFF), 0xFFFF);  // beyond the end is all ones
  EXPECT_EQ(bus.ReadConfigWord({0, 31, 2}, 0x00), 0xFFFF);
  EXPECT_EQ(bus.ReadConfigWord({1, 31, 3}, 0x00), 0xFFFF);
  EXPECT_EQ(bus.Find({0, 31, 3}), &smbus);
  EXPECT_EQ(bus.Find({0, 0, 0}), nullptr);
  PciFunction twin({0, 31, 3}, Image(0x1106, 0x3177));
  EXPECT_THROW(bus.Add(twin), std::invalid_argument);
}

TEST_F(PciBusTest, MechanismOneReadsAnyByteOfTheSelectedDword) {
  Select(Address(0, 31, 3, 0x20));
  EXPECT_EQ(ports.In(0xCF8), 0x20);
  EXPECT_EQ(ports.In(0xCFB), 0x80);
  EXPECT_EQ(ports.In(0xCFC), 0x20);
  EXPECT_EQ(ports.In(0xCFD), 0x21);
  EXPECT_EQ(ports.In(0xCFE), 0x22);
  EXPECT_EQ(ports.In(0xCFF), 0x23);
  Select(Address(0, 31, 3, 0x00));
  EXPECT_EQ(ports.In(0xCFC) | ports.In(0xCFD) << 8, 0x8086);
  EXPECT_EQ(ports.In(0xCFE) | ports.In(0xCFF) << 8, 0x24D3);
  // The low two address bits never select a byte; the data port does.
  Select(Address(0, 31, 3, 0x20) | 0x3);
  EXPECT_EQ(ports.In(0xCFC), 0x20);
}

TEST_F(PciBusTest, MechanismOneAbsentOrDisabledReadsAllOnes) {
  Select(Address(0, 30, 0, 0x00));
  EXPECT_EQ(ports.In(0xCFC), 0xFF);
  EXPECT_EQ(ports.In(0xCFF), 0xFF);
  Select(Address(0, 31, 3, 0x00) & ~0x80000000U);
  EXPECT_EQ(ports.In(0xCFC), 0xFF);
}

TEST_F(PciBusTest, WritesReachConfigurationButNotTheIdentity) {
  Select(Address(0, 31, 3, 0x40));
  ports.Out(0xCFD, 0xAB);
  EXPECT_EQ(smbus.ReadConfigByte(0x41), 0xAB);
  Select(Address(0, 31, 3, 0x00));
  ports.Out(0xCFC, 0x00);
  ports.Out(0xCFE, 0x00);
  EXPECT_EQ(smbus.VendorId(), 0x8086);
  EXPECT_EQ(smbus.DeviceId(), 0x24D3);
  smbus.PowerOnReset();
  EXPECT_EQ(smbus.ReadConfigByte(0x41), 0x41);
  // Writes with the enable bit clear go nowhere.
  Select(Address(0, 31, 3, 0x40) & ~0x80000000U);
  ports.Out(0xCFC, 0x99);
  EXPECT_EQ(smbus.ReadConfigByte(0x40), 0x40);
}

TEST(PciLocationText, ParsesDecimalAndHexAndRejectsNonsense) {
  EXPECT_EQ(ParsePciLocation("0:31.3"), (PciLocation{0, 31, 3}));
  EXPECT_EQ(ParsePciLocation("0x1:0x1f.0x7"), (PciLocation{1, 31, 7}));
  EXPECT_EQ(FormatPciLocation({0, 17, 0}), "0:17.0");
  for (const char* bad : {"", "0:31", "0.31:3", "0:32.0", "0:1.8", "256:0.0", "a:b.c", "0:1.1x", "-1:0.0"}) {
    EXPECT_THROW(ParsePciLocation(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
}  // namespace rq::sim
