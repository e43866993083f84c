#include "hw/ViaSmbus.h"

namespace rq::hw {
namespace {

constexpr std::uint8_t kStatus = 0x00;
constexpr std::uint8_t kControl = 0x02;
constexpr std::uint8_t kCommand = 0x03;
constexpr std::uint8_t kAddress = 0x04;
constexpr std::uint8_t kData0 = 0x05;
constexpr std::uint8_t kData1 = 0x06;
constexpr std::uint8_t kBlockData = 0x07;

constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusComplete = 0x02;
constexpr std::uint8_t kStatusDeviceError = 0x04;
constexpr std::uint8_t kStatusErrors = 0x1C;  // device error, bus collision, failed
constexpr std::uint8_t kStatusIdleMask = 0x3C;
constexpr std::uint8_t kStatusInUse = 0x40;
constexpr std::uint8_t kStatusByteDone = 0x80;
constexpr std::uint8_t kStatusClearAll = 0xFF;

constexpr std::uint8_t kControlAbort = 0x02;
constexpr std::uint8_t kControlByteData = 0x48;
constexpr std::uint8_t kControlBlock = 0x54;

constexpr std::uint8_t kReadBit = 0x01;

constexpr std::uint32_t kClearWaitMs = 5;
constexpr std::uint32_t kStatusWaitMs = 5;
constexpr std::uint32_t kAbortWaitMs = 5;
constexpr std::uint32_t kByteResultWaitMs = 5;
constexpr std::uint32_t kBlockReadWaitMs = 15;
constexpr std::uint32_t kBlockWriteWaitMs = 5;

}  // namespace

void ViaSmbus::ClearStatus() {
  Out(kStatus, kStatusClearAll);
  Delay(kClearWaitMs);
}

bool ViaSmbus::IsIdle() {
  const std::uint8_t status = In(kStatus);
  Delay(kStatusWaitMs);
  Out(kStatus, kStatusInUse);
  return (status & kStatusIdleMask) == 0;
}

bool ViaSmbus::StatusBit(std::uint8_t bit) {
  if (!IsIdle()) return false;
  return (In(kStatus) & bit) != 0;
}

bool ViaSmbus::IsBusy() { return StatusBit(kStatusBusy); }
bool ViaSmbus::IsComplete() { return StatusBit(kStatusComplete); }
bool ViaSmbus::IsByteDone() { return StatusBit(kStatusByteDone); }
bool ViaSmbus::Failed() { return HostError(In(kStatus) & kStatusErrors); }

void ViaSmbus::Abort() {
  Out(kControl, kControlAbort);
  Delay(kAbortWaitMs);
  Out(kStatus, kStatusClearAll);
}

bool ViaSmbus::Preamble(Kind kind) {
  ClearStatus();
  const auto abortRound = [&] {
    Out(kControl, kControlAbort);
    if (kind == Kind::kBlock) {
      Delay(kAbortWaitMs);
    } else {
      ClearStatus();
      SleepMs(1);
    }
  };
  return Until([&] { return !IsBusy(); }, abortRound);
}

bool ViaSmbus::AwaitCompletion() {
  const Await done = Poll([&] { return IsComplete(); }, [&] { return Failed(); });
  if (done == Await::kReached) return true;
  if (done == Await::kTimedOut) Abort();
  ClearStatus();
  return false;
}

void ViaSmbus::Finish() {
  ClearStatus();
  if (!Until([&] { return !IsBusy(); }, [] {})) Abort();
}

bool ViaSmbus::ReadByte(std::uint32_t* value, std::uint8_t command) {
  NoteRegister(command);
  if (!Preamble(Kind::kByte)) return false;
  Out(kAddress, static_cast<std::uint8_t>(DeviceAddress() | kReadBit));
  Out(kCommand, command);
  Out(kStatus, kStatusClearAll);
  Out(kData0, 0xFF);
  Out(kControl, kControlByteData);
  Delay(kByteResultWaitMs);
  if (HostError(In(kStatus) & kStatusDeviceError)) {
    ClearStatus();
    return false;
  }
  if (!AwaitCompletion()) return false;
  *value = In(kData0);
  Finish();
  return true;
}

void ViaSmbus::WriteByte(std::uint8_t value, std::uint8_t command) {
  NoteRegister(command);
  if (!Preamble(Kind::kByte)) return;
  Out(kAddress, DeviceAddress());
  Out(kCommand, command);
  Out(kData0, value);
  Out(kData1, 0);
  Out(kStatus, kStatusClearAll);
  Out(kControl, kControlByteData);
  Delay(kByteResultWaitMs);
  if (!AwaitCompletion()) return;
  Finish();
}

unsigned ViaSmbus::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  if (Room(start, kSmbusBufferEntries) == 0) return 0;
  if (!Preamble(Kind::kBlock)) return 0;
  (void)In(kControl);  // reading control rewinds the block buffer
  Out(kAddress, static_cast<std::uint8_t>(DeviceAddress() | kReadBit));
  Out(kCommand, start);
  Out(kStatus, kStatusClearAll);
  Out(kData0, 0xFF);
  Out(kControl, kControlBlock);
  Delay(kBlockReadWaitMs);
  if (!AwaitCompletion()) return 0;
  if (count == 0) count = In(kData0);
  count = Room(start, count);
  for (unsigned k = 0; k < count; ++k) buffer[start + k] = In(kBlockData);
  Finish();
  return count;
}

unsigned ViaSmbus::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  count = Room(start, count);
  if (count == 0) return 0;  // an SMBus block carries 1 to 32 bytes
  if (!Preamble(Kind::kBlock)) return 0;
  (void)In(kControl);
  Out(kAddress, DeviceAddress());
  Out(kCommand, start);
  Out(kData0, static_cast<std::uint8_t>(count));
  Out(kData1, 0);
  for (unsigned k = 0; k < count; ++k) Out(kBlockData, ByteOf(buffer[start + k]));
  Out(kStatus, kStatusClearAll);
  Out(kControl, kControlBlock);
  Delay(kBlockWriteWaitMs);
  if (!AwaitCompletion()) return 0;
  Finish();
  return count;
}

}  // namespace rq::hw
