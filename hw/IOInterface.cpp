#include "hw/IOInterface.h"

#include <cstring>
#include <vector>

#include "hw/DriverHandle.h"
#include "platform/Clock.h"
#include "platform/Trace.h"
#include "protocol/Protocol.h"

namespace rq::hw {
namespace {

namespace proto = rq::protocol;

using proto::LoadU16;
using proto::LoadU32;
using proto::LoadU64;
using proto::StoreU16;
using proto::StoreU32;

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
  StoreU32(buffer, proto::port_request::kPort, port);
  if (!driver->DeviceIoControl(proto::kIoctlReadPortByte, buffer, sizeof buffer)) {
    platform::Trace("driver refused reading port 0x%04X", port);
    return false;
  }
  value = LoadU32(buffer, proto::port_request::kValueRead) & 0xFF;
  return true;
}

bool IOInterface::WritePortByte(std::uint16_t port, std::uint8_t value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::port_request::kLength] = {};
  StoreU32(buffer, proto::port_request::kPort, port);
  StoreU32(buffer, proto::port_request::kValueToWrite, value);
  if (!driver->DeviceIoControl(proto::kIoctlWritePortByte, buffer, sizeof buffer)) {
    platform::Trace("driver refused writing 0x%02X to port 0x%04X", value, port);
    return false;
  }
  return true;
}

bool IOInterface::ReadIndexedByte(IndexedPair pair, std::uint32_t index, std::uint32_t& value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::indexed_request::kLength] = {};
  StoreU32(buffer, proto::indexed_request::kIndexPort, pair.indexPort);
  StoreU32(buffer, proto::indexed_request::kDataPort, pair.dataPort);
  StoreU32(buffer, proto::indexed_request::kRegister, index);
  if (!driver->DeviceIoControl(proto::kIoctlReadIndexedByte, buffer, sizeof buffer)) {
    platform::Trace("driver refused reading register 0x%02X at ports 0x%04X/0x%04X", index, pair.indexPort,
                    pair.dataPort);
    return false;
  }
  value = LoadU32(buffer, proto::indexed_request::kValueRead) & 0xFF;
  return true;
}

bool IOInterface::WriteIndexedByte(IndexedPair pair, std::uint32_t index, std::uint8_t value) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::uint8_t buffer[proto::indexed_request::kLength] = {};
  StoreU32(buffer, proto::indexed_request::kIndexPort, pair.indexPort);
  StoreU32(buffer, proto::indexed_request::kDataPort, pair.dataPort);
  StoreU32(buffer, proto::indexed_request::kRegister, index);
  StoreU32(buffer, proto::indexed_request::kValueToWrite, value);
  if (!driver->DeviceIoControl(proto::kIoctlWriteIndexedByte, buffer, sizeof buffer)) {
    platform::Trace("driver refused writing 0x%02X to register 0x%02X at ports 0x%04X/0x%04X", value, index,
                    pair.indexPort, pair.dataPort);
    return false;
  }
  return true;
}

std::uint16_t IOInterface::ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                             std::uint8_t reg) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return 0;
  std::uint8_t buffer[proto::pci_request::kLength] = {};
  StoreU32(buffer, proto::pci_request::kBus, bus);
  StoreU32(buffer, proto::pci_request::kDevice, device);
  StoreU32(buffer, proto::pci_request::kFunction, function);
  StoreU32(buffer, proto::pci_request::kRegister, reg);
  StoreU16(buffer, proto::pci_request::kValueRead, 0);
  if (!driver->DeviceIoControl(proto::kIoctlReadPciConfigWord, buffer, sizeof buffer)) {
    platform::Trace("driver refused reading PCI %02X:%02X.%X register 0x%02X", bus, device, function, reg);
    return 0;
  }
  return LoadU16(buffer, proto::pci_request::kValueRead);
}

bool IOInterface::ReadPhysicalMemory(std::uint32_t address, std::uint8_t* destination,
                                     std::uint16_t length) const {
  DriverHandle* driver = Driver();
  if (driver == nullptr) return false;
  std::vector<std::uint8_t> buffer(proto::memory_request::kHeaderLength + length);
  StoreU32(buffer.data(), proto::memory_request::kAddress, address);
  StoreU16(buffer.data(), proto::memory_request::kLengthField, length);
  const bool ok = driver->DeviceIoControl(proto::kIoctlReadPhysicalMemory, buffer.data(),
                                          static_cast<std::uint32_t>(buffer.size()));
  if (!ok) platform::Trace("driver refused reading %u bytes of memory at 0x%08X", length, address);
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
  if (!driver->DeviceIoControl(proto::kIoctlReadTimeStampCounter, buffer, sizeof buffer)) {
    platform::Trace("driver refused reading the time-stamp counter");
    return false;
  }
  tsc = LoadU64(buffer, 0);
  return true;
}

namespace {

bool BusLockRequest(DriverHandle* driver, std::uint32_t key, std::uint32_t operation) {
  namespace request = proto::bus_lock_request;
  if (driver == nullptr) return false;
  std::uint8_t buffer[request::kLength] = {};
  proto::StoreU32(buffer, request::kKey, key);
  proto::StoreU32(buffer, request::kOperation, operation);
  if (!driver->DeviceIoControl(proto::kIoctlBusLock, buffer, sizeof buffer)) {
    platform::Trace("driver refused to %s the bus lock 0x%04X", operation == request::kTake ? "take" : "give",
                    key);
    return false;
  }
  return true;
}

}  // namespace

bool IOInterface::TakeBusLock(std::uint32_t key) const {
  return BusLockRequest(Driver(), key, proto::bus_lock_request::kTake);
}

bool IOInterface::GiveBusLock(std::uint32_t key) const {
  return BusLockRequest(Driver(), key, proto::bus_lock_request::kGive);
}

}  // namespace rq::hw
