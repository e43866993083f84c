#include "driver/RegisterGates.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace rq::driver {
namespace {

// The SMBus slaves the program talks to, 8-bit form: the clock generator (7-bit
// 0x69) and the overclock controller (7-bit 0x4E).
constexpr std::array<std::uint8_t, 2> kDrivenSlaves = {0xD2, 0x9C};
constexpr std::uint8_t kReadBit = 0x01;
// Memory modules' SPD EEPROMs (7-bit 0x50-0x57): a wrong byte there leaves a
// board that no longer boots. Named apart so that no later slave list can open it.
constexpr std::uint8_t kSpdFirst = 0xA0;
constexpr std::uint8_t kSpdLast = 0xAF;

std::string Hex(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// Intel ICH and VIA: status, control (bit 6 starts), command, slave address, the
// two data bytes and the block data port.
constexpr std::uint8_t kIchStart = 0x40;
constexpr RegisterWrite kIchStyleSmbus[] = {
    {0x00, 0x00}, {0x02, 0x02, WriteRule::kStartsTransfer, kIchStart},
    {0x03, 0x03}, {0x04, 0x04, WriteRule::kSlaveAddress},
    {0x05, 0x07},
};
// nVidia MCP: protocol (any protocol starts), slave address, command, 32 data
// bytes and the byte count.
constexpr std::uint8_t kNvidiaAnyProtocol = 0xFF;
constexpr RegisterWrite kNvidiaSmbus[] = {
    {0x00, 0x00, WriteRule::kStartsTransfer, kNvidiaAnyProtocol},
    {0x02, 0x02, WriteRule::kSlaveAddress},
    {0x03, 0x24},
};
// SiS 962/963: status, host control (bit 4 starts), slave address, command, byte
// count and the data ports.
constexpr std::uint8_t kSisStart = 0x10;
constexpr RegisterWrite kSisSmbus[] = {
    {0x00, 0x00},
    {0x03, 0x03, WriteRule::kStartsTransfer, kSisStart},
    {0x04, 0x04, WriteRule::kSlaveAddress},
    {0x05, 0x05},
    {0x07, 0x27},
};
// The GPIO level registers of the voltage pins, nothing else of the block (on VIA
// the block is the power-management block, whose PM1 control would sleep or
// power off the machine).
constexpr RegisterWrite kIntelGpio[] = {{0x0E, 0x0E}, {0x38, 0x38}};
constexpr RegisterWrite kViaGpio[] = {{0x4E, 0x4F}};
constexpr RegisterWrite kSisGpio[] = {{0x64, 0x65}};

// Winbond monitors: the bank select. ITE monitors: the configuration register,
// whose battery-measurement bit the program sets (bit 7 would reinitialise the chip).
constexpr std::uint8_t kWinbondBankSelect = 0x4E;
constexpr std::uint8_t kWinbondVendorId = 0x4F;
constexpr std::uint8_t kWinbondHighByteAccess = 0x80;
constexpr std::uint8_t kWinbondVendorHigh = 0x5C;
constexpr std::uint8_t kWinbondVendorLow = 0xA3;
constexpr std::uint8_t kIteConfiguration = 0x00;
constexpr std::uint8_t kIteMeasureBattery = 0x40;
constexpr std::uint8_t kIteVendorId = 0x58;
constexpr std::uint8_t kIteVendor = 0x90;
constexpr RegisterWrite kWinbondMonitor[] = {{kWinbondBankSelect, kWinbondBankSelect}};
// Detection asks for a Winbond chip first, selecting its bank with vendor high,
// then low byte: an ITE chip sees those two writes too.
constexpr std::uint8_t kWinbondProbeHigh = 0x80;
constexpr std::uint8_t kWinbondProbeLow = 0x00;
constexpr RegisterWrite kIteMonitor[] = {
    {kIteConfiguration, kIteConfiguration, WriteRule::kSetsOnly, kIteMeasureBattery},
    {kWinbondBankSelect, kWinbondBankSelect, WriteRule::kOneOf, kWinbondProbeHigh, kWinbondProbeLow}};
const WriteTable kWinbondMonitorWrites{kWinbondMonitor, true};
const WriteTable kIteMonitorWrites{kIteMonitor, true};

// The clock generator's watchdog ports: seconds, then the enable byte in the two
// forms the program writes.
constexpr std::uint8_t kWatchdogOn = 0x9F;
constexpr std::uint8_t kWatchdogOff = 0x1F;
constexpr RegisterWrite kWatchdogPorts[] = {{0x00, 0x00},
                                            {0x01, 0x01, WriteRule::kOneOf, kWatchdogOn, kWatchdogOff}};
const WriteTable kWatchdogPortWrites{kWatchdogPorts};
// What an undecoded port reads.
constexpr std::uint8_t kFloatingBus = 0xFF;

std::uint8_t ReadBehindIndex(PortIo& ports, std::uint16_t index, std::uint8_t reg) {
  ports.Out(index, reg);
  return ports.In(static_cast<std::uint16_t>(index + 1));
}

// A Winbond chip shows its vendor ID's high or low byte as the bank select's bit
// 7 says; an ITE chip its vendor byte. Selecting a register changes nothing.
const WriteTable* IdentifyMonitor(PortIo& ports, std::uint16_t index) {
  const std::uint8_t bank = ReadBehindIndex(ports, index, kWinbondBankSelect);
  const std::uint8_t vendor = ReadBehindIndex(ports, index, kWinbondVendorId);
  if (vendor == ((bank & kWinbondHighByteAccess) != 0 ? kWinbondVendorHigh : kWinbondVendorLow))
    return &kWinbondMonitorWrites;
  if (ReadBehindIndex(ports, index, kIteVendorId) == kIteVendor) return &kIteMonitorWrites;
  return nullptr;
}

// The enable port holds one of the program's two bytes, or 0 from power-on; an
// undecoded port floats high.
const WriteTable* IdentifyWatchdogPorts(PortIo& ports, std::uint16_t first) {
  return ports.In(static_cast<std::uint16_t>(first + 1)) == kFloatingBus ? nullptr : &kWatchdogPortWrites;
}

const FixedBlock kFixedBlocks[] = {
    {{0x0295, 0x0296, "hardware monitor index/data"}, IdentifyMonitor},
    {{0x104A, 0x104B, "clock generator watchdog"}, IdentifyWatchdogPorts},
};

}  // namespace

bool SmbusSlaveAllowed(std::uint8_t address, std::string& why) {
  const auto slave = static_cast<std::uint8_t>(address & ~kReadBit);
  if (slave >= kSpdFirst && slave <= kSpdLast) {
    why = "SMBus slave " + Hex(slave) + " is a memory module's SPD EEPROM";
    return false;
  }
  if (std::find(kDrivenSlaves.begin(), kDrivenSlaves.end(), slave) == kDrivenSlaves.end()) {
    why = "SMBus slave " + Hex(slave) + " is none the program drives";
    return false;
  }
  return true;
}

const WriteTable kIchStyleSmbusWrites{kIchStyleSmbus, false, 0x04};
const WriteTable kNvidiaSmbusWrites{kNvidiaSmbus, false, 0x02};
const WriteTable kSisSmbusWrites{kSisSmbus, false, 0x04};
const WriteTable kIntelGpioWrites{kIntelGpio};
const WriteTable kViaGpioWrites{kViaGpio};
const WriteTable kSisGpioWrites{kSisGpio};

std::span<const FixedBlock> FixedBlocks() { return kFixedBlocks; }

const RegisterWrite* FindRegister(const WriteTable& table, std::uint8_t reg) {
  for (const RegisterWrite& entry : table.registers) {
    if (reg >= entry.first && reg <= entry.last) return &entry;
  }
  return nullptr;
}

bool PassesRule(const RegisterWrite& rule, std::uint8_t value, const std::function<std::uint8_t()>& content,
                const std::function<std::uint8_t()>& slave, std::string& why) {
  switch (rule.rule) {
    case WriteRule::kAny:
      return true;
    case WriteRule::kSlaveAddress:
      return SmbusSlaveAllowed(value, why);
    case WriteRule::kStartsTransfer:
      if ((value & rule.bits) == 0) return true;
      if (SmbusSlaveAllowed(slave(), why)) return true;
      why = "no transfer starts while the host's address register holds it: " + why;
      return false;
    case WriteRule::kOneOf:
      if (value == rule.bits || value == rule.other) return true;
      why = "the program writes only " + Hex(rule.bits) + " or " + Hex(rule.other) + " there";
      return false;
    case WriteRule::kSetsOnly:
      if (((value ^ content()) & ~rule.bits) == 0) return true;
      why = "only bits " + Hex(rule.bits) + " may change there";
      return false;
  }
  return false;
}

}  // namespace rq::driver
