#include "driver/Dispatcher.h"

#include <algorithm>
#include <vector>

#include "driver/DaemonLog.h"
#include "driver/RegisterGates.h"
#include "protocol/Protocol.h"

namespace rq::driver {
namespace {

constexpr std::uint32_t kMaxPort = 0xFFFF;
constexpr std::uint32_t kMaxBus = 0xFF;
constexpr std::uint32_t kMaxDevice = 0x1F;
constexpr std::uint32_t kMaxFunction = 0x7;
constexpr std::uint32_t kMaxRegister = 0xFF;

bool FixedLength(std::uint32_t code, std::uint32_t& length) {
  switch (code) {
    case protocol::kIoctlReadPortByte:
    case protocol::kIoctlWritePortByte:
      length = protocol::port_request::kLength;
      return true;
    case protocol::kIoctlReadIndexedByte:
    case protocol::kIoctlWriteIndexedByte:
      length = protocol::indexed_request::kLength;
      return true;
    case protocol::kIoctlReadPciConfigWord:
      length = protocol::pci_request::kLength;
      return true;
    case protocol::kIoctlReadTimeStampCounter:
      length = protocol::tsc_request::kLength;
      return true;
    case protocol::kIoctlBusLock:
      length = protocol::bus_lock_request::kLength;
      return true;
    case protocol::kIoctlSmbusTransaction:
      length = protocol::smbus_request::kLength;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Dispatcher::KnownCode(std::uint32_t code) {
  std::uint32_t length = 0;
  return code == protocol::kIoctlReadPhysicalMemory || FixedLength(code, length);
}

bool Dispatcher::Dispatch(std::uint32_t code, std::span<std::uint8_t> buffer, ConnectionId connection) {
  if (code == protocol::kIoctlDaemonBuild) {
    if (buildIdentity_.empty() || buffer.size() != buildIdentity_.size()) return false;
    std::copy(buildIdentity_.begin(), buildIdentity_.end(), buffer.begin());
    return true;
  }
  if (code == protocol::kIoctlReadPhysicalMemory) {
    if (buffer.size() < protocol::memory_request::kHeaderLength) return false;
    const std::uint32_t length = protocol::LoadU16(buffer.data(), protocol::memory_request::kLengthField);
    if (length > buffer.size() - protocol::memory_request::kHeaderLength) return false;
  } else {
    std::uint32_t length = 0;
    if (!FixedLength(code, length) || buffer.size() != length) return false;
  }
  if (code == protocol::kIoctlBusLock) return BusLock(buffer, connection);

  // Work on a copy so that a request failing half-way leaves the caller's buffer
  // as it was.
  std::vector<std::uint8_t> work(buffer.begin(), buffer.end());
  bool ok = false;
  {
    std::lock_guard lock(mutex_);
    switch (code) {
      case protocol::kIoctlReadPortByte:
        ok = ReadPort(work);
        break;
      case protocol::kIoctlWritePortByte:
        ok = WritePort(work);
        break;
      case protocol::kIoctlReadIndexedByte:
        ok = ReadIndexed(work);
        break;
      case protocol::kIoctlWriteIndexedByte:
        ok = WriteIndexed(work);
        break;
      case protocol::kIoctlReadPciConfigWord:
        ok = ReadPci(work);
        break;
      case protocol::kIoctlReadPhysicalMemory:
        ok = ReadMemory(work);
        break;
      case protocol::kIoctlReadTimeStampCounter:
        ok = ReadTsc(work);
        break;
      case protocol::kIoctlSmbusTransaction:
        ok = Smbus(work);
        break;
      default:
        break;
    }
  }
  if (ok) std::copy(work.begin(), work.end(), buffer.begin());
  return ok;
}

bool Dispatcher::ReadPort(std::span<std::uint8_t> buffer) {
  const std::uint32_t port = protocol::LoadU32(buffer.data(), protocol::port_request::kPort);
  if (port > kMaxPort) return false;
  std::uint8_t value = 0;
  if (!backend_.ReadPort(static_cast<std::uint16_t>(port), value)) return false;
  protocol::StoreU32(buffer.data(), protocol::port_request::kValueRead, value);
  return true;
}

bool Dispatcher::WritePort(std::span<std::uint8_t> buffer) {
  const std::uint32_t port = protocol::LoadU32(buffer.data(), protocol::port_request::kPort);
  if (port > kMaxPort) return false;
  const auto value =
      static_cast<std::uint8_t>(protocol::LoadU32(buffer.data(), protocol::port_request::kValueToWrite));
  return backend_.WritePort(static_cast<std::uint16_t>(port), value);
}

bool Dispatcher::ReadIndexed(std::span<std::uint8_t> buffer) {
  const std::uint32_t indexPort = protocol::LoadU32(buffer.data(), protocol::indexed_request::kIndexPort);
  const std::uint32_t dataPort = protocol::LoadU32(buffer.data(), protocol::indexed_request::kDataPort);
  if (indexPort > kMaxPort || dataPort > kMaxPort) return false;
  const auto index =
      static_cast<std::uint8_t>(protocol::LoadU32(buffer.data(), protocol::indexed_request::kRegister));
  std::uint8_t value = 0;
  if (!backend_.ReadIndexed(static_cast<std::uint16_t>(indexPort), static_cast<std::uint16_t>(dataPort),
                            index, value)) {
    return false;
  }
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kValueRead, value);
  return true;
}

bool Dispatcher::WriteIndexed(std::span<std::uint8_t> buffer) {
  const std::uint32_t indexPort = protocol::LoadU32(buffer.data(), protocol::indexed_request::kIndexPort);
  const std::uint32_t dataPort = protocol::LoadU32(buffer.data(), protocol::indexed_request::kDataPort);
  if (indexPort > kMaxPort || dataPort > kMaxPort) return false;
  const auto index =
      static_cast<std::uint8_t>(protocol::LoadU32(buffer.data(), protocol::indexed_request::kRegister));
  const auto value =
      static_cast<std::uint8_t>(protocol::LoadU32(buffer.data(), protocol::indexed_request::kValueToWrite));
  return backend_.WriteIndexed(static_cast<std::uint16_t>(indexPort), static_cast<std::uint16_t>(dataPort),
                               index, value);
}

bool Dispatcher::ReadPci(std::span<std::uint8_t> buffer) {
  const std::uint32_t bus = protocol::LoadU32(buffer.data(), protocol::pci_request::kBus);
  const std::uint32_t device = protocol::LoadU32(buffer.data(), protocol::pci_request::kDevice);
  const std::uint32_t function = protocol::LoadU32(buffer.data(), protocol::pci_request::kFunction);
  const std::uint32_t reg = protocol::LoadU32(buffer.data(), protocol::pci_request::kRegister);
  if (bus > kMaxBus || device > kMaxDevice || function > kMaxFunction || reg > kMaxRegister) return false;
  std::uint16_t value = 0;
  if (!backend_.ReadPciConfigWord(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                                  static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(reg),
                                  value)) {
    return false;
  }
  protocol::StoreU16(buffer.data(), protocol::pci_request::kValueRead, value);
  return true;
}

bool Dispatcher::ReadMemory(std::span<std::uint8_t> buffer) {
  const std::uint32_t address = protocol::LoadU32(buffer.data(), protocol::memory_request::kAddress);
  const std::uint32_t length = protocol::LoadU16(buffer.data(), protocol::memory_request::kLengthField);
  return backend_.ReadPhysicalMemory(address, buffer.subspan(protocol::memory_request::kData, length));
}

// Nothing comes back: the buffer is left as it came in either way.
bool Dispatcher::BusLock(std::span<std::uint8_t> buffer, ConnectionId connection) {
  namespace request = protocol::bus_lock_request;
  const std::uint32_t key = protocol::LoadU32(buffer.data(), request::kKey);
  const std::uint32_t operation = protocol::LoadU32(buffer.data(), request::kOperation);
  if (key > kMaxPort) return false;
  switch (operation) {
    case request::kTake:
      return busLocks_.Take(connection, key);
    case request::kGive:
      return busLocks_.Give(connection, key);
    default:
      return false;
  }
}

// The slave check stands before every backend, so that no path reaches a slave
// the program does not drive, a memory module's SPD EEPROM least of all.
bool Dispatcher::Smbus(std::span<std::uint8_t> buffer) {
  namespace request = protocol::smbus_request;
  const std::uint32_t host = protocol::LoadU32(buffer.data(), request::kHost);
  const std::uint32_t slave = protocol::LoadU32(buffer.data(), request::kSlave);
  const std::uint32_t command = protocol::LoadU32(buffer.data(), request::kCommand);
  const std::uint32_t kind = protocol::LoadU32(buffer.data(), request::kKind);
  const std::uint32_t count = protocol::LoadU32(buffer.data(), request::kCount);
  if (host > kMaxPort) return false;
  if (kind == request::kQuery) return backend_.HasSmbusAdapter(static_cast<std::uint16_t>(host));
  if (slave > kMaxRegister || (slave & 1U) != 0 || command > kMaxRegister) return false;
  SmbusTransfer transfer;
  std::uint32_t toSend = 0;
  switch (kind) {
    case request::kReadByteData:
      transfer.kind = SmbusTransfer::Kind::kReadByteData;
      break;
    case request::kWriteByteData:
      transfer.kind = SmbusTransfer::Kind::kWriteByteData;
      toSend = 1;
      break;
    case request::kReadBlockData:
      transfer.kind = SmbusTransfer::Kind::kReadBlockData;
      break;
    case request::kWriteBlockData:
      transfer.kind = SmbusTransfer::Kind::kWriteBlockData;
      if (count == 0 || count > request::kMaxData) return false;
      toSend = count;
      break;
    default:
      return false;
  }
  std::string why;
  if (!SmbusSlaveAllowed(static_cast<std::uint8_t>(slave), why)) {
    LogLine("SMBus transaction refused: " + why);
    return false;
  }
  transfer.slave = static_cast<std::uint8_t>(slave >> 1);
  transfer.command = static_cast<std::uint8_t>(command);
  transfer.data.assign(buffer.begin() + request::kData, buffer.begin() + request::kData + toSend);
  if (!backend_.SmbusTransaction(static_cast<std::uint16_t>(host), transfer)) return false;
  if (toSend != 0) return true;
  if (transfer.data.empty() || transfer.data.size() > request::kMaxData) return false;
  std::copy(transfer.data.begin(), transfer.data.end(), buffer.begin() + request::kData);
  protocol::StoreU32(buffer.data(), request::kCount, static_cast<std::uint32_t>(transfer.data.size()));
  return true;
}

bool Dispatcher::ReadTsc(std::span<std::uint8_t> buffer) {
  std::uint64_t tsc = 0;
  if (!backend_.ReadTimeStampCounter(tsc)) return false;
  protocol::StoreU64(buffer.data(), 0, tsc);
  return true;
}

}  // namespace rq::driver
