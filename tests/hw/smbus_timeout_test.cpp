#include <gtest/gtest.h>

#include <array>

#include "hw/SmbusHost.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using testing::ScriptedHostBackend;

constexpr std::uint16_t kBase = 0x0400;
// Generous: each awaited state has its own deadline, and a transaction awaits a
// few of them one after the other.
constexpr std::uint32_t kWorstCaseMs = 6 * kSmbusTimeoutMs;

struct StuckHost {
  std::int16_t kind;
  std::uint8_t statusOffset;
  std::uint8_t stuckStatus;
};

// Hosts whose status never leaves "busy": nothing may wait on them forever, and
// every operation reports failure or no bytes.
TEST(SmbusTimeout, HostStuckBusyNeverHangsAnOperation) {
  const StuckHost hosts[] = {
      {kHostIntelICH5, 0, 0x01}, {kHostVIA8235, 0, 0x01}, {kHostSis962, 0, 0x01}, {kHostNVidiaMCP, 1, 0x1A}};
  for (const StuckHost& host : hosts) {
    SCOPED_TRACE(host.kind);
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    ProcessSmbusHost() = {host.kind, kBase};
    backend.onIn = [&](std::uint16_t port, std::uint8_t last) {
      return port == kBase + host.statusOffset ? host.stuckStatus : last;
    };
    const auto io = CreateI2CIo(host.kind, 0xD2);
    std::array<std::int32_t, 32> buffer{};
    buffer.fill(-1);

    std::uint32_t value = 0x1234;
    std::uint32_t begin = scope.virtualClock.NowMs();
    if (host.kind != kHostSis962) {
      EXPECT_FALSE(io->ReadByte(&value, 0x10));
      EXPECT_EQ(value, 0x1234u);
    }
    EXPECT_LE(scope.virtualClock.NowMs() - begin, kWorstCaseMs);

    begin = scope.virtualClock.NowMs();
    io->WriteByte(0x55, 0x10);
    EXPECT_LE(scope.virtualClock.NowMs() - begin, kWorstCaseMs);

    begin = scope.virtualClock.NowMs();
    EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 8), 0u);
    EXPECT_LE(scope.virtualClock.NowMs() - begin, 2 * kWorstCaseMs);
    for (std::int32_t entry : buffer) EXPECT_EQ(entry, -1);

    begin = scope.virtualClock.NowMs();
    EXPECT_EQ(io->WriteBlock(buffer.data(), 0, 8), 0u);
    EXPECT_LE(scope.virtualClock.NowMs() - begin, kWorstCaseMs);
  }
}

TEST(SmbusTimeout, StuckHostsAreAbortedThroughTheirKillBit) {
  const struct {
    std::int16_t kind;
    std::uint16_t killPort;
    std::uint8_t killValue;
  } hosts[] = {
      {kHostIntelICH4, kBase + 2, 0x02}, {kHostVIA8233A, kBase + 2, 0x02}, {kHostSis962, kBase + 3, 0x20}};
  for (const auto& host : hosts) {
    SCOPED_TRACE(host.kind);
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    ProcessSmbusHost() = {host.kind, kBase};
    backend.onIn = [&](std::uint16_t port, std::uint8_t last) { return port == kBase ? 0x01 : last; };
    std::array<std::int32_t, 32> buffer{};
    CreateI2CIo(host.kind, 0xD2)->ReadBlock(buffer.data(), 0, 4);
    EXPECT_TRUE(backend.Wrote(host.killPort, host.killValue));
  }
}

// An ICH host that starts a transaction and then never finishes it: the byte read
// fails after the deadline, the host is killed and released for the next one.
TEST(SmbusTimeout, IntelTransactionThatNeverCompletesIsKilled) {
  ScriptedHostBackend backend;
  HostFixtureScope scope(backend);
  ProcessSmbusHost() = {kHostIntelICH5, kBase};
  std::uint8_t status = 0;
  backend.onIn = [&](std::uint16_t port, std::uint8_t last) { return port == kBase ? status : last; };
  backend.onOut = [&](std::uint16_t port, std::uint8_t value) {
    if (port == kBase) status = static_cast<std::uint8_t>(status & ~(value & 0xFE));
    if (port == kBase + 2 && (value & 0x40) != 0) status = 0x01;
    if (port == kBase + 2 && (value & 0x02) != 0) status = 0x10;  // killed: failed
  };
  std::uint32_t value = 7;
  const std::uint32_t begin = scope.virtualClock.NowMs();
  EXPECT_FALSE(CreateI2CIo(kHostIntelICH5, 0xD2)->ReadByte(&value, 3));
  const std::uint32_t spent = scope.virtualClock.NowMs() - begin;
  EXPECT_GE(spent, kSmbusTimeoutMs);
  EXPECT_LE(spent, kWorstCaseMs);
  EXPECT_EQ(value, 7u);
  EXPECT_TRUE(backend.Wrote(kBase + 2, 0x02));
  EXPECT_EQ(status, 0) << "the host is left idle";
}

// A block that stops after two bytes reports the two bytes it moved.
TEST(SmbusTimeout, IntelBlockReadThatStallsReportsTheBytesStored) {
  ScriptedHostBackend backend;
  HostFixtureScope scope(backend);
  ProcessSmbusHost() = {kHostIntelICH2, kBase};
  std::uint8_t status = 0;
  int delivered = 0;
  backend.onIn = [&](std::uint16_t port, std::uint8_t last) {
    if (port == kBase) return status;
    if (port == kBase + 5) return std::uint8_t{6};                                  // the device's count
    if (port == kBase + 7) return static_cast<std::uint8_t>(0xA0 + delivered - 1);  // block data
    return last;
  };
  backend.onOut = [&](std::uint16_t port, std::uint8_t value) {
    if (port == kBase + 2 && (value & 0x40) != 0) {
      status = 0x81;
      delivered = 1;
    } else if (port == kBase + 2 && (value & 0x02) != 0) {
      status = 0x10;
    } else if (port == kBase) {
      const bool handedOver = (status & 0x80) != 0 && (value & 0x80) != 0;
      status = static_cast<std::uint8_t>(status & ~(value & 0xFE));
      if (handedOver && delivered < 2) {
        ++delivered;
        status |= 0x80;
      }
    }
  };
  std::array<std::int32_t, 32> buffer{};
  buffer.fill(-1);
  EXPECT_EQ(CreateI2CIo(kHostIntelICH2, 0xD2)->ReadBlock(buffer.data(), 4, 0), 2u);
  EXPECT_EQ(buffer[4], 0xA0);
  EXPECT_EQ(buffer[5], 0xA1);
  EXPECT_EQ(buffer[6], -1);
  EXPECT_TRUE(backend.Wrote(kBase + 2, 0x02));
}

// A device count beyond what the 32-entry buffer holds from `start` never writes
// past the buffer: the last-byte mark goes where the buffer ends.
TEST(SmbusTimeout, BlockReadNeverStoresBeyondTheBuffer) {
  for (std::int16_t kind : {kHostIntelICH5, kHostVIA8237, kHostSis962, kHostNVidiaMCP}) {
    SCOPED_TRACE(kind);
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    ProcessSmbusHost() = {kind, kBase};
    // Every status bit a host waits for is up at once, and counts read as 200.
    backend.onIn = [&](std::uint16_t port, std::uint8_t last) {
      if (port == kBase) return kind == kHostSis962 ? std::uint8_t{0x18} : std::uint8_t{0x82};
      if (port == kBase + 1 && kind == kHostNVidiaMCP) return std::uint8_t{0x80};
      if (port == kBase + 5 || port == kBase + 0x24) return std::uint8_t{200};
      return last;
    };
    std::array<std::int32_t, 40> guarded{};
    guarded.fill(-1);
    const unsigned stored = CreateI2CIo(kind, 0xD2)->ReadBlock(guarded.data(), 28, 0);
    EXPECT_LE(stored, 4u);
    for (unsigned i = 32; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], -1) << i;
    EXPECT_EQ(CreateI2CIo(kind, 0xD2)->ReadBlock(guarded.data(), 32, 4), 0u);
  }
}

}  // namespace
}  // namespace rq::hw
