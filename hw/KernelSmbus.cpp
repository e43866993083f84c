#include "hw/KernelSmbus.h"

#include <algorithm>
#include <array>

#include "hw/DriverHandle.h"
#include "hw/SmbusHost.h"
#include "platform/Trace.h"
#include "protocol/Protocol.h"

namespace rq::hw {
namespace {

namespace request = protocol::smbus_request;
using Buffer = std::array<std::uint8_t, request::kLength>;

Buffer Request(std::uint16_t base, std::uint32_t kind) {
  Buffer buffer{};
  protocol::StoreU32(buffer.data(), request::kHost, base);
  protocol::StoreU32(buffer.data(), request::kKind, kind);
  return buffer;
}

// How many entries from `start` a buffer of kSmbusBufferEntries has room for.
unsigned Room(std::uint8_t start, unsigned count) {
  if (start >= kSmbusBufferEntries) return 0;
  const unsigned room = kSmbusBufferEntries - start;
  return count < room ? count : room;
}

}  // namespace

bool KernelAdapterServes(std::uint16_t base) {
  DriverHandle* driver = ProcessDriverState().deviceHandle;
  if (driver == nullptr) return false;
  Buffer buffer = Request(base, request::kQuery);
  return driver->DeviceIoControl(protocol::kIoctlSmbusTransaction, buffer.data(), request::kLength);
}

bool KernelSmbusIo::Transact(std::uint32_t kind, std::uint8_t command, std::span<std::uint8_t> data,
                             unsigned& count) const {
  DriverHandle* driver = ProcessDriverState().deviceHandle;
  if (driver == nullptr || data.size() > request::kMaxData) return false;
  Buffer buffer = Request(ProcessSmbusHost().base, kind);
  protocol::StoreU32(buffer.data(), request::kSlave, DeviceAddress());
  protocol::StoreU32(buffer.data(), request::kCommand, command);
  protocol::StoreU32(buffer.data(), request::kCount, static_cast<std::uint32_t>(data.size()));
  const bool read = kind == request::kReadByteData || kind == request::kReadBlockData;
  if (!read) std::copy(data.begin(), data.end(), buffer.begin() + request::kData);
  if (!driver->DeviceIoControl(protocol::kIoctlSmbusTransaction, buffer.data(), request::kLength)) {
    platform::Trace(
        "SMBus transaction through the kernel's adapter failed: host at port 0x%04X, device 0x%02X, "
        "register 0x%02X",
        ProcessSmbusHost().base, DeviceAddress(), command);
    return false;
  }
  count = static_cast<unsigned>(data.size());
  if (read) {
    const std::uint32_t got = protocol::LoadU32(buffer.data(), request::kCount);
    if (got > request::kMaxData) return false;
    count = got;
    std::copy(buffer.begin() + request::kData, buffer.begin() + request::kData + got, data.begin());
  }
  return true;
}

bool KernelSmbusIo::ReadByte(std::uint32_t* value, std::uint8_t command) {
  std::array<std::uint8_t, request::kMaxData> data{};
  unsigned count = 0;
  if (!Transact(request::kReadByteData, command, data, count) || count != 1) return false;
  *value = data[0];
  return true;
}

void KernelSmbusIo::WriteByte(std::uint8_t value, std::uint8_t command) {
  std::array<std::uint8_t, 1> data = {value};
  unsigned count = 0;
  Transact(request::kWriteByteData, command, data, count);
}

// The slave sends its whole block; what lies beyond `count` entries (or the
// buffer's end) is not stored, as the port-level hosts stop there.
unsigned KernelSmbusIo::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  const unsigned limit = Room(start, count == 0 ? kSmbusBufferEntries : count);
  if (limit == 0) return 0;
  std::array<std::uint8_t, request::kMaxData> data{};
  unsigned got = 0;
  if (!Transact(request::kReadBlockData, start, data, got)) return 0;
  const unsigned stored = got < limit ? got : limit;
  for (unsigned i = 0; i < stored; ++i) buffer[start + i] = data[i];
  return stored;
}

unsigned KernelSmbusIo::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  count = Room(start, count);
  if (count == 0) return 0;  // an SMBus block carries 1 to 32 bytes
  std::array<std::uint8_t, request::kMaxData> data{};
  for (unsigned i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(buffer[start + i] & 0xFF);
  unsigned sent = 0;
  return Transact(request::kWriteBlockData, start, std::span(data).first(count), sent) ? sent : 0;
}

}  // namespace rq::hw
