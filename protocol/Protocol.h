#pragma once
#include <cstdint>

namespace rq::protocol {

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_READ_ACCESS)
constexpr std::uint32_t CtlCode(std::uint32_t function) {
  constexpr std::uint32_t kDeviceUnknown = 0x22;
  constexpr std::uint32_t kFileReadAccess = 1;
  constexpr std::uint32_t kMethodBuffered = 0;
  return (kDeviceUnknown << 16) | (kFileReadAccess << 14) | (function << 2) | kMethodBuffered;
}

inline constexpr std::uint32_t kIoctlReadIndexedByte = CtlCode(0x809);     // 0x00226024
inline constexpr std::uint32_t kIoctlWriteIndexedByte = CtlCode(0x810);    // 0x00226040
inline constexpr std::uint32_t kIoctlReadPhysicalMemory = CtlCode(0x811);  // 0x00226044
inline constexpr std::uint32_t kIoctlReadPciConfigWord = CtlCode(0x812);   // 0x00226048
inline constexpr std::uint32_t kIoctlReadPortByte = CtlCode(0x813);        // 0x0022604C
inline constexpr std::uint32_t kIoctlWritePortByte = CtlCode(0x814);       // 0x00226050
// Our own addition: the machine's time-stamp counter (u64 out).
inline constexpr std::uint32_t kIoctlReadTimeStampCounter = CtlCode(0x815);  // 0x00226054
// Our own addition: the daemon's lock of a bus (an SMBus host, an index/data pair)
// for a whole register sequence, held by one connection and given up when it closes.
inline constexpr std::uint32_t kIoctlBusLock = CtlCode(0x816);  // 0x00226058
// Our own addition: the daemon's build (build_request), to tell a daemon of
// another build from the one the program would start.
inline constexpr std::uint32_t kIoctlDaemonBuild = CtlCode(0x817);  // 0x0022605C
// Our own addition: one SMBus transaction through the kernel's adapter of an
// SMBus host (smbus_request), or the question whether such an adapter serves it.
inline constexpr std::uint32_t kIoctlSmbusTransaction = CtlCode(0x818);  // 0x00226060

static_assert(kIoctlReadIndexedByte == 0x00226024);
static_assert(kIoctlWritePortByte == 0x00226050);
static_assert(kIoctlDaemonBuild == 0x0022605C);
static_assert(kIoctlSmbusTransaction == 0x00226060);

// Buffer lengths and field offsets (all fields little-endian).
namespace port_request {
inline constexpr std::uint32_t kLength = 12;
inline constexpr std::uint32_t kPort = 0;
inline constexpr std::uint32_t kValueRead = 4;
inline constexpr std::uint32_t kValueToWrite = 8;
}  // namespace port_request

namespace indexed_request {
inline constexpr std::uint32_t kLength = 20;
inline constexpr std::uint32_t kIndexPort = 0;
inline constexpr std::uint32_t kDataPort = 4;
inline constexpr std::uint32_t kRegister = 8;
inline constexpr std::uint32_t kValueRead = 12;
inline constexpr std::uint32_t kValueToWrite = 16;
}  // namespace indexed_request

namespace pci_request {
inline constexpr std::uint32_t kLength = 20;
inline constexpr std::uint32_t kBus = 0;
inline constexpr std::uint32_t kDevice = 4;
inline constexpr std::uint32_t kFunction = 8;
inline constexpr std::uint32_t kRegister = 12;
inline constexpr std::uint32_t kValueRead = 16;  // u16, then 2 reserved bytes
}  // namespace pci_request

namespace memory_request {
inline constexpr std::uint32_t kHeaderLength = 6;
inline constexpr std::uint32_t kAddress = 0;
inline constexpr std::uint32_t kLengthField = 4;  // u16
inline constexpr std::uint32_t kData = 6;
}  // namespace memory_request

namespace tsc_request {
inline constexpr std::uint32_t kLength = 8;
}  // namespace tsc_request

namespace build_request {
inline constexpr std::uint32_t kLength = 24;
inline constexpr std::uint32_t kVersion = 0;  // ASCII, NUL-padded
inline constexpr std::uint32_t kVersionLength = 16;
inline constexpr std::uint32_t kDigest = 16;  // u64: platform::FileDigest of the daemon's program file
}  // namespace build_request

namespace bus_lock_request {
inline constexpr std::uint32_t kLength = 8;
// The SMBus host's base port for an SMBus sequence; the index port for a pair.
inline constexpr std::uint32_t kKey = 0;
inline constexpr std::uint32_t kOperation = 4;
inline constexpr std::uint32_t kGive = 0;
inline constexpr std::uint32_t kTake = 1;
}  // namespace bus_lock_request

namespace smbus_request {
inline constexpr std::uint32_t kLength = 52;
// The SMBus host's base port, as for its bus lock; the adapter is the one the
// kernel's driver of that host registered.
inline constexpr std::uint32_t kHost = 0;
inline constexpr std::uint32_t kSlave = 4;  // 8-bit form, bit 0 clear
inline constexpr std::uint32_t kCommand = 8;
inline constexpr std::uint32_t kKind = 12;
// Bytes in kData: 1 for byte data, 1-32 for a block write; a read fills in what came.
inline constexpr std::uint32_t kCount = 16;
inline constexpr std::uint32_t kData = 20;
inline constexpr std::uint32_t kMaxData = 32;
// Kinds. kQuery succeeds when the daemon serves transactions for kHost and touches
// no slave; the others are the SMBus protocols of the same name.
inline constexpr std::uint32_t kQuery = 0;
inline constexpr std::uint32_t kReadByteData = 1;
inline constexpr std::uint32_t kWriteByteData = 2;
inline constexpr std::uint32_t kReadBlockData = 3;
inline constexpr std::uint32_t kWriteBlockData = 4;
}  // namespace smbus_request

// Little-endian field access on request buffers; callers check the bounds.
inline std::uint32_t LoadU32(const std::uint8_t* buffer, std::uint32_t offset) {
  return static_cast<std::uint32_t>(buffer[offset]) | (static_cast<std::uint32_t>(buffer[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(buffer[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(buffer[offset + 3]) << 24);
}
inline std::uint16_t LoadU16(const std::uint8_t* buffer, std::uint32_t offset) {
  return static_cast<std::uint16_t>(buffer[offset] | (buffer[offset + 1] << 8));
}
inline std::uint64_t LoadU64(const std::uint8_t* buffer, std::uint32_t offset) {
  return static_cast<std::uint64_t>(LoadU32(buffer, offset)) |
         (static_cast<std::uint64_t>(LoadU32(buffer, offset + 4)) << 32);
}
inline void StoreU32(std::uint8_t* buffer, std::uint32_t offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i) buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void StoreU16(std::uint8_t* buffer, std::uint32_t offset, std::uint16_t value) {
  buffer[offset] = static_cast<std::uint8_t>(value);
  buffer[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void StoreU64(std::uint8_t* buffer, std::uint32_t offset, std::uint64_t value) {
  StoreU32(buffer, offset, static_cast<std::uint32_t>(value));
  StoreU32(buffer, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

// The socket protocol between a client and the daemon (SOCK_SEQPACKET, one
// message each way): request = u32 code + buffer; reply = u32 success flag +
// the buffer with the same length. A request that is not even framed (shorter
// than the code, longer than any request can be) gets a bare failure flag.
namespace wire {
inline constexpr std::uint32_t kHeaderLength = 4;
inline constexpr std::uint32_t kMaxBufferLength = memory_request::kHeaderLength + 0xFFFF;
inline constexpr std::uint32_t kMaxMessageLength = kHeaderLength + kMaxBufferLength;
inline constexpr std::uint32_t kReplySuccess = 1;
inline constexpr std::uint32_t kReplyFailure = 0;
}  // namespace wire

}  // namespace rq::protocol
