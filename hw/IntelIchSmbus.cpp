#include "hw/IntelIchSmbus.h"

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
constexpr std::uint8_t kStatusBusError = 0x08;
constexpr std::uint8_t kStatusFailed = 0x10;
constexpr std::uint8_t kStatusByteDone = 0x80;
constexpr std::uint8_t kStatusIdleMask = 0x3F;
constexpr std::uint8_t kStatusErrors = kStatusDeviceError | kStatusBusError | kStatusFailed;
constexpr std::uint8_t kStatusClearAll = 0xFF;

constexpr std::uint8_t kControlKill = 0x02;
constexpr std::uint8_t kControlLastByte = 0x20;
constexpr std::uint8_t kControlByteData = 0x48;
constexpr std::uint8_t kControlBlock = 0x54;
constexpr std::uint8_t kControlBlockLastByte = kControlBlock | kControlLastByte;

constexpr std::uint8_t kReadBit = 0x01;

constexpr std::uint32_t kClearWaitMs = 5;
constexpr std::uint32_t kByteResultWaitMs = 10;
constexpr std::uint32_t kBlockStartWaitMs = 5;
constexpr std::uint32_t kLastByteWaitMs = 5;

}  // namespace

void IntelIchSmbus::ClearStatus() {
  Out(kStatus, kStatusClearAll);
  Delay(kClearWaitMs);
}

bool IntelIchSmbus::IsByteDone() { return (In(kStatus) & kStatusByteDone) != 0; }
bool IntelIchSmbus::IsBusy() { return (In(kStatus) & kStatusBusy) != 0; }
bool IntelIchSmbus::IsIdle() { return (In(kStatus) & kStatusIdleMask) == 0; }
bool IntelIchSmbus::IsComplete() { return (In(kStatus) & kStatusComplete) != 0; }
bool IntelIchSmbus::Failed() { return HostError(In(kStatus) & kStatusErrors); }

bool IntelIchSmbus::AcquireHost(std::uint32_t extraMs) {
  const auto clearRound = [&] {
    ClearStatus();
    if (extraMs != 0) Delay(extraMs);
  };
  if (Until([&] { return IsIdle(); }, clearRound)) return true;
  Abort();
  return IsIdle();
}

void IntelIchSmbus::ReleaseHost(std::uint32_t extraMs) {
  ClearStatus();
  const auto clearRound = [&] {
    ClearStatus();
    if (extraMs != 0) Delay(extraMs);
  };
  if (!Until([&] { return IsIdle(); }, clearRound)) Abort();
}

void IntelIchSmbus::SetLastByte() {
  const std::uint8_t control = In(kControl);
  Out(kControl, static_cast<std::uint8_t>((control & ~kControlLastByte) | kControlLastByte));
  Delay(kLastByteWaitMs);
}

// The kill bit ends whatever the host is doing; it must be dropped again before
// the host takes a new transaction.
void IntelIchSmbus::Abort() {
  Out(kControl, kControlKill);
  Delay(1);
  Out(kControl, 0);
  Out(kStatus, kStatusClearAll);
}

bool IntelIchSmbus::ReadByte(std::uint32_t* value, std::uint8_t command) {
  NoteRegister(command);
  if (!AcquireHost(0)) return false;
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
  const Await done = Poll([&] { return IsComplete(); }, [&] { return Failed(); });
  if (done != Await::kReached) {
    if (done == Await::kTimedOut) Abort();
    ClearStatus();
    return false;
  }
  *value = In(kData0);
  ReleaseHost(0);
  return true;
}

void IntelIchSmbus::WriteByte(std::uint8_t value, std::uint8_t command) {
  NoteRegister(command);
  if (!AcquireHost(0)) return;
  Out(kAddress, DeviceAddress());
  Out(kCommand, command);
  Out(kData0, value);
  Out(kData1, 0);
  Out(kStatus, kStatusClearAll);
  Out(kControl, kControlByteData);
  if (Poll([&] { return IsComplete(); }, [&] { return Failed(); }) == Await::kTimedOut) Abort();
  ReleaseHost(0);
}

unsigned IntelIchSmbus::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  if (Room(start, kSmbusBufferEntries) == 0) return 0;
  if (!AcquireHost(kClearWaitMs)) return 0;
  Out(kAddress, static_cast<std::uint8_t>(DeviceAddress() | kReadBit));
  Out(kCommand, start);
  Out(kControl, count == 1 ? kControlBlockLastByte : kControlBlock);
  Delay(kBlockStartWaitMs);
  if (count == 0) count = In(kData0);
  // The last-byte mark goes where the caller's buffer ends if the block is longer.
  const unsigned limit = Room(start, count);

  unsigned stored = 0;
  for (;;) {
    if (count > 1 && stored + 1 == limit) SetLastByte();
    // A host that finishes or fails without a further byte has nothing more to give.
    const Await byte = Poll([&] { return IsByteDone(); },
                            [&] {
                              const std::uint8_t status = In(kStatus);
                              return HostError(status & kStatusErrors) || (status & kStatusComplete) != 0;
                            });
    if (byte == Await::kTimedOut || stored == Room(start, kSmbusBufferEntries)) {
      Abort();
      return stored;
    }
    if (byte == Await::kFailed) break;
    buffer[start + stored] = In(kBlockData);
    ++stored;
    if (IsComplete()) break;
    ClearStatus();
  }
  ReleaseHost(0);
  return stored;
}

unsigned IntelIchSmbus::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  count = Room(start, count);
  if (count == 0) return 0;  // an SMBus block carries 1 to 32 bytes
  if (!AcquireHost(kClearWaitMs)) return 0;
  Out(kAddress, DeviceAddress());
  Out(kData0, static_cast<std::uint8_t>(count));
  Out(kCommand, start);
  Out(kData1, 0);
  Out(kBlockData, ByteOf(buffer[start]));
  Out(kControl, count == 1 ? kControlBlockLastByte : kControlBlock);
  Delay(kBlockStartWaitMs);

  // `loaded` bytes have gone to the host; at each byte-done all of them are sent.
  unsigned loaded = 1;
  for (;;) {
    const Await byte = Poll([&] { return IsByteDone(); }, [&] { return Failed(); });
    if (byte != Await::kReached) {
      if (byte == Await::kTimedOut) Abort();
      ClearStatus();
      return loaded - 1;
    }
    if (IsComplete()) break;
    if (loaded == count) {
      // Every byte is out but the host has not finished: give it the usual time.
      if (Poll([&] { return IsComplete(); }, [&] { return Failed(); }) != Await::kReached) Abort();
      break;
    }
    Out(kBlockData, ByteOf(buffer[start + loaded]));
    ++loaded;
    if (count > 1 && loaded == count) SetLastByte();
    ClearStatus();
  }
  ReleaseHost(kClearWaitMs);
  return loaded;
}

}  // namespace rq::hw
