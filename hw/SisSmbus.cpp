#include "hw/SisSmbus.h"

#include <array>

namespace rq::hw {
namespace {

constexpr std::uint8_t kStatus = 0x00;
constexpr std::uint8_t kHostControl = 0x03;
constexpr std::uint8_t kAddress = 0x04;
constexpr std::uint8_t kCommand = 0x05;
constexpr std::uint8_t kByteCount = 0x07;
constexpr std::uint8_t kDataFirst = 0x08;

constexpr std::uint8_t kStatusIdle = 0x00;
constexpr std::uint8_t kStatusFailed = 0x02;  // no acknowledge, or killed
constexpr std::uint8_t kStatusCollision = 0x04;
constexpr std::uint8_t kStatusComplete = 0x08;
constexpr std::uint8_t kStatusByteDone = 0x10;
constexpr std::uint8_t kStatusErrors = kStatusFailed | kStatusCollision;
constexpr std::uint8_t kStatusClearAll = 0xFF;

constexpr std::uint8_t kHostControlBlock = 0x15;
constexpr std::uint8_t kHostControlKill = 0x20;

constexpr std::uint8_t kReadBit = 0x01;

// The device register that holds the length of the block it answers with.
constexpr std::uint8_t kDeviceByteCountRegister = 8;

constexpr std::uint32_t kClearWaitMs = 5;
constexpr std::uint32_t kBlockWaitMs = 10;

}  // namespace

void Sis962Io::ClearStatus() {
  Out(kStatus, kStatusClearAll);
  Delay(kClearWaitMs);
}

bool Sis962Io::IsByteDone() { return (In(kStatus) & kStatusByteDone) != 0; }
bool Sis962Io::IsBusy() { return In(kStatus) != kStatusIdle; }
bool Sis962Io::IsIdle() { return In(kStatus) == kStatusIdle; }
bool Sis962Io::IsComplete() { return (In(kStatus) & kStatusComplete) != 0; }
bool Sis962Io::Failed() { return HostError(In(kStatus) & kStatusErrors); }

void Sis962Io::Abort() {
  Out(kHostControl, kHostControlKill);
  Delay(1);
  Out(kStatus, kStatusClearAll);
}

bool Sis962Io::AcquireHost() {
  const auto clearRound = [&] {
    ClearStatus();
    Delay(kClearWaitMs);
  };
  if (Until([&] { return IsIdle(); }, clearRound)) return true;
  Abort();
  return IsIdle();
}

bool Sis962Io::AwaitCompletion() {
  const Await done = Poll([&] { return IsComplete(); }, [&] { return Failed(); });
  if (done == Await::kReached) return true;
  if (done == Await::kTimedOut) Abort();
  ClearStatus();
  return false;
}

unsigned Sis962Io::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  if (Room(start, kSmbusBufferEntries) == 0) return 0;
  count = Room(start, count);
  // The device answers with as many bytes as its byte-count register says.
  std::array<std::int32_t, kSmbusBufferEntries> scratch{};
  scratch[kDeviceByteCountRegister] = static_cast<std::int32_t>(count);
  WriteBlock(scratch.data(), kDeviceByteCountRegister, 1);

  if (!AcquireHost()) return 0;
  Out(kAddress, static_cast<std::uint8_t>(DeviceAddress() | kReadBit));
  Out(kCommand, start);
  Out(kHostControl, kHostControlBlock);
  Delay(kBlockWaitMs);
  if (!AwaitCompletion()) return 0;
  for (unsigned k = 0; k < count; ++k) buffer[start + k] = In(static_cast<std::uint8_t>(kDataFirst + k));
  ClearStatus();
  return count;
}

unsigned Sis962Io::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  count = Room(start, count);
  if (count == 0) return 0;  // an SMBus block carries 1 to 32 bytes
  if (!AcquireHost()) return 0;
  Out(kAddress, DeviceAddress());
  Out(kCommand, start);
  Out(kByteCount, static_cast<std::uint8_t>(count));
  for (unsigned k = 0; k < count; ++k) {
    Out(static_cast<std::uint8_t>(kDataFirst + k), ByteOf(buffer[start + k]));
  }
  Out(kHostControl, kHostControlBlock);
  Delay(kBlockWaitMs);
  if (!AwaitCompletion()) return 0;
  ClearStatus();
  return count;
}

bool Sis962Io::ReadByte(std::uint32_t* /*value*/, std::uint8_t /*command*/) { return true; }

void Sis962Io::WriteByte(std::uint8_t /*value*/, std::uint8_t /*command*/) {}

}  // namespace rq::hw
