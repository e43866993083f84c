#include "hw/NvidiaSmbus.h"

namespace rq::hw {
namespace {

constexpr std::uint8_t kProtocol = 0x00;
constexpr std::uint8_t kStatus = 0x01;
constexpr std::uint8_t kAddress = 0x02;
constexpr std::uint8_t kCommand = 0x03;
constexpr std::uint8_t kData = 0x04;  // block data: +4 onward
constexpr std::uint8_t kByteCount = 0x24;

constexpr std::uint8_t kStatusIdleMask = 0x1F;
constexpr std::uint8_t kStatusDone = 0x80;
constexpr std::uint8_t kStatusBusy = 0x1A;
constexpr std::uint8_t kStatusResultMask = 0x7F;  // anything but done is an error code

constexpr std::uint8_t kProtocolClear = 0x00;
constexpr std::uint8_t kProtocolWriteByteData = 0x06;
constexpr std::uint8_t kProtocolReadByteData = 0x07;
constexpr std::uint8_t kProtocolWriteBlock = 0x0A;
constexpr std::uint8_t kProtocolReadBlock = 0x0B;

constexpr std::uint32_t kClearWaitMs = 5;
constexpr std::uint32_t kStepWaitMs = 5;
constexpr std::uint32_t kResultWaitMs = 10;

}  // namespace

void nVidiaMCPIo::ClearStatus() {
  Out(kProtocol, kProtocolClear);
  Delay(kClearWaitMs);
}

bool nVidiaMCPIo::IsIdle() { return (In(kStatus) & kStatusIdleMask) == 0; }
bool nVidiaMCPIo::IsByteDone() { return In(kStatus) == kStatusDone; }
bool nVidiaMCPIo::IsComplete() { return In(kStatus) == kStatusDone; }
bool nVidiaMCPIo::IsBusy() { return In(kStatus) == kStatusBusy; }

// This host has no kill bit: clearing the protocol register is all there is.
bool nVidiaMCPIo::AcquireHost() {
  return Until([&] { return IsIdle(); }, [&] { ClearStatus(); });
}

void nVidiaMCPIo::ReleaseHost() {
  ClearStatus();
  Until([&] { return IsIdle(); }, [&] { ClearStatus(); });
}

bool nVidiaMCPIo::Failed() {
  const std::uint8_t status = In(kStatus);
  return status != kStatusBusy && HostError(status & kStatusResultMask);
}

bool nVidiaMCPIo::AwaitCompletion() {
  if (Poll([&] { return IsComplete(); }, [&] { return Failed(); }) == Await::kReached) return true;
  ClearStatus();
  return false;
}

bool nVidiaMCPIo::ReadByte(std::uint32_t* value, std::uint8_t command) {
  NoteRegister(command);
  if (!AcquireHost()) return false;
  Out(kAddress, DeviceAddress());
  Out(kCommand, command);
  Delay(kStepWaitMs);
  Out(kProtocol, kProtocolReadByteData);
  Delay(kResultWaitMs);
  if ((In(kStatus) & kStatusResultMask) != 0) {
    ClearStatus();
    return false;
  }
  if (!AwaitCompletion()) return false;
  *value = In(kData);
  ReleaseHost();
  return true;
}

void nVidiaMCPIo::WriteByte(std::uint8_t value, std::uint8_t command) {
  NoteRegister(command);
  if (!AcquireHost()) return;
  Out(kAddress, DeviceAddress());
  Out(kCommand, command);
  Delay(kStepWaitMs);
  Out(kData, value);
  Delay(kStepWaitMs);
  Out(kProtocol, kProtocolWriteByteData);
  Delay(kStepWaitMs);
  ReleaseHost();
}

unsigned nVidiaMCPIo::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  if (Room(start, kSmbusBufferEntries) == 0) return 0;
  if (!AcquireHost()) return 0;
  Out(kAddress, DeviceAddress());
  Out(kCommand, start);
  Delay(kStepWaitMs);
  Out(kProtocol, kProtocolReadBlock);
  Delay(kResultWaitMs);
  if (!AwaitCompletion()) return 0;
  if (count == 0) count = In(kByteCount);
  count = Room(start, count);
  for (unsigned k = 0; k < count; ++k) buffer[start + k] = In(static_cast<std::uint8_t>(kData + k));
  ReleaseHost();
  return count;
}

unsigned nVidiaMCPIo::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  NoteRegister(start);
  count = Room(start, count);
  if (count == 0) return 0;  // an SMBus block carries 1 to 32 bytes
  if (!AcquireHost()) return 0;
  Out(kAddress, DeviceAddress());
  Out(kCommand, start);
  Out(kByteCount, static_cast<std::uint8_t>(count));
  for (unsigned k = 0; k < count; ++k) Out(static_cast<std::uint8_t>(kData + k), ByteOf(buffer[start + k]));
  Delay(kStepWaitMs);
  Out(kProtocol, kProtocolWriteBlock);
  Delay(kResultWaitMs);
  if (!AwaitCompletion()) return 0;
  ReleaseHost();
  return count;
}

}  // namespace rq::hw
