#include "hw/IOInterface.h"

#include <cstring>
#include <vector>

#include "driver/Protocol.h"
#include "hw/DriverHandle.h"
#include "platform/Clock.h"

namespace rq::hw {
namespace {

namespace proto = rq::driver;

void PutU32(std::uint8_t* buffer, std::uint32_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutU16(std::uint8_t* buffer, std::uint32_t offset, std::uint16_t value) {
  buffer[offset] = static_cast<std::uint8_t>(value);
  buffer[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t GetU32(const std::uint8_t* buffer, std::uint32_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | buffer[offset + i];
  return value;
}

std::uint16_t GetU16(const std::uint8_t* buffer, std::uint32_t offset) {
  return static_cast<std::uint16_t>(buffer[offset] | (buffer[offset + 1] << 8));
}

// The open driver, or null when there is none (no driver mode, or no handle).
DriverHandle* Driver() {
  const DriverState& state = ProcessDriverState();
  return state.driverMode ? state.deviceHandle : nullptr;
}

}  // namespace

DriverState& ProcessDriverState() {
  static DriverState state;
  return state;
}

bool IOInterface::ReadPortByte(std::uint16_t port, std::uint32_t& value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::port_request::kLength] = {};
  PutU32(buffer, proto::port_request::kPort, port);
  if (!driver->DeviceIoControl(proto::kIoctlReadPortByte, buffer, sizeof buffer)) return false;
  value = GetU32(buffer, proto::port_request::kValueRead) & 0xFF;
  return true;
}

bool IOInterface::WritePortByte(std::uint16_t port, std::uint8_t value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::port_request::kLength] = {};
  PutU32(buffer, proto::port_request::kPort, port);
  PutU32(buffer, proto::port_request::kValueToWrite, value);
  return driver->DeviceIoControl(proto::kIoctlWritePortByte, buffer, sizeof buffer);
}

bool IOInterface::ReadIndexedByte(IndexedPair pair, std::uint32_t index, std::uint32_t& value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::indexed_request::kLength] = {};
  PutU32(buffer, proto::indexed_request::kIndexPort, pair.indexPort);
  PutU32(buffer, proto::indexed_request::kDataPort, pair.dataPort);
  PutU32(buffer, proto::indexed_request::kRegister, index);
  if (!driver->DeviceIoControl(proto::kIoctlReadIndexedByte, buffer, sizeof buffer)) return false;
  value = GetU32(buffer, proto::indexed_request::kValueRead) & 0xFF;
  return true;
}

bool IOInterface::WriteIndexedByte(IndexedPair pair, std::uint32_t index, std::uint8_t value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::indexed_request::kLength] = {};
  PutU32(buffer, proto::indexed_request::kIndexPort, pair.indexPort);
  PutU32(buffer, proto::indexed_request::kDataPort, pair.dataPort);
  PutU32(buffer, proto::indexed_request::kRegister, index);
  PutU32(buffer, proto::indexed_request::kValueToWrite, value);
  return driver->DeviceIoControl(proto::kIoctlWriteIndexedByte, buffer, sizeof buffer);
}

std::uint16_t IOInterface::ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                             std::uint8_t reg) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return 0;
  std::uint8_t buffer[proto::pci_request::kLength] = {};
  PutU32(buffer, proto::pci_request::kBus, bus);
  PutU32(buffer, proto::pci_request::kDevice, device);
  PutU32(buffer, proto::pci_request::kFunction, function);
  PutU32(buffer, proto::pci_request::kRegister, reg);
  PutU16(buffer, proto::pci_request::kValueRead, 0);
  if (!driver->DeviceIoControl(proto::kIoctlReadPciConfigWord, buffer, sizeof buffer)) return 0;
  return GetU16(buffer, proto::pci_request::kValueRead);
}

bool IOInterface::ReadPhysicalMemory(std::uint32_t address, std::uint8_t* destination,
                                     std::uint16_t length) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::vector<std::uint8_t> buffer(proto::memory_request::kHeaderLength + length);
  PutU32(buffer.data(), proto::memory_request::kAddress, address);
  PutU16(buffer.data(), proto::memory_request::kLengthField, length);
  const bool ok = driver->DeviceIoControl(proto::kIoctlReadPhysicalMemory, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()));
  // The driver channel hands back one byte fewer than asked; callers zero-fill
  // their destination and so always get a terminated text.
  if (ok && length > 0) std::memcpy(destination, buffer.data() + proto::memory_request::kData, length - 1u);
  return ok;
}

void IOInterface::DelayMs(std::uint32_t ms) const { platform::DelayMs(ms); }

bool IOInterface::ReadTimeStampCounter(std::uint64_t& tsc) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::tsc_request::kLength] = {};
  if (!driver->DeviceIoControl(proto::kIoctlReadTimeStampCounter, buffer, sizeof buffer)) return false;
  tsc = static_cast<std::uint64_t>(GetU32(buffer, 0)) | (static_cast<std::uint64_t>(GetU32(buffer, 4)) << 32);
  return true;
}

}  // namespace rq::hw
