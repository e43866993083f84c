#include <gtest/gtest.h>
#include <sys/socket.h>

#include <array>
#include <memory>
#include <string>

#include "driver/Dispatcher.h"
#include "driver/RequestServer.h"
#include "driver/UnixSocket.h"
#include "driver/VirtualBoardBackend.h"
#include "hw/SmbusHost.h"
#include "hw/SocketDriverHandle.h"
#include "sim/Board.h"
#include "smbus_fakes.h"
#include "support/TempDir.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using testing::RecordingBackend;

constexpr std::uint8_t kDeviceAddress = 0xD2;  // 8-bit form
constexpr std::uint8_t kByteCountRegister = 8;

// A device with 256 registers. A block read at `command` answers with as many
// registers from `command` on as its byte-count register (8) says; a block write
// stores its bytes from `command` on.
class RegisterDevice final : public sim::SmbusDevice {
 public:
  explicit RegisterDevice(std::uint8_t address7) : SmbusDevice(address7) { PowerOnReset(); }
  std::string Name() const override { return "test-registers"; }
  void PowerOnReset() override {
    for (unsigned i = 0; i < registers.size(); ++i) registers[i] = static_cast<std::uint8_t>(0x40 + i);
    registers[kByteCountRegister] = 6;
  }
  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override {
    value = registers[command];
    return true;
  }
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override {
    registers[command] = value;
    return true;
  }
  bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) override {
    ++blockReads;
    for (unsigned k = 0; k < registers[kByteCountRegister]; ++k)
      data.push_back(registers[(command + k) & 0xFF]);
    return true;
  }
  bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) override {
    ++blockWrites;
    for (unsigned k = 0; k < data.size(); ++k) registers[(command + k) & 0xFF] = data[k];
    return true;
  }

  std::array<std::uint8_t, 256> registers{};
  unsigned blockReads = 0;
  unsigned blockWrites = 0;
};

struct Family {
  const char* chip;  // the profile's [[chip]] block
  std::int16_t kind;
  std::uint16_t base;
  bool byteOperations;
  bool blockCountFromHost;  // a block read of count 0 takes the device's count
};

const Family kFamilies[] = {
    {"type = \"ich-smbus\"\nkind = 101\nbase = 0x0500\n", kHostIntelICH2, 0x0500, true, true},
    {"type = \"ich-smbus\"\nkind = 103\nbase = 0x0400\n", kHostIntelICH5, 0x0400, true, true},
    {"type = \"via-smbus\"\nkind = 302\nbase = 0x0600\n", kHostVIA8235, 0x0600, true, true},
    {"type = \"via-smbus\"\nkind = 303\nbase = 0x0400\n", kHostVIA8237, 0x0400, true, true},
    {"type = \"sis962-smbus\"\n", kHostSis962, 0x10C0, false, false},
    {"type = \"nvidia-mcp-smbus\"\nbase = 0x5000\n", kHostNVidiaMCP, 0x5000, true, true},
};

constexpr const char* kBoardHead =
    "name = \"smbus-test\"\n"
    "[bios]\nmodel = \"SMBUS TEST BOARD\"\n"
    "[cpu]\nmultiplier = 10\nmax_stable_fsb = 200.0\npower_on_fsb = 100.0\n"
    "[[chip]]\n";

// A virtual board with one SMBus host and a register device at 0xD2, reached
// through the driver's own request path in this process.
class HostBoard {
 public:
  explicit HostBoard(const Family& family, bool withDevice = true)
      : board_(sim::Board::FromProfileText(std::string(kBoardHead) + family.chip, time_)),
        backend_(*board_, driver::VirtualBoardBackend::WhenHung::Fail),
        recording(backend_),
        scope(recording),
        device(kDeviceAddress >> 1) {
    if (withDevice) board_->Smbus().Attach(device);
  }

  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
  driver::VirtualBoardBackend backend_;
  RecordingBackend recording;
  HostFixtureScope scope;
  RegisterDevice device;
};

// Byte and block transactions of one family against the register device.
void ExerciseFamily(const Family& family, RegisterDevice& device) {
  ASSERT_TRUE(DetectSmbusHost());
  ASSERT_EQ(ProcessSmbusHost().kind, family.kind);
  ASSERT_EQ(ProcessSmbusHost().base, family.base);
  const auto io = CreateI2CIo(family.kind, kDeviceAddress);

  if (family.byteOperations) {
    std::uint32_t value = 0;
    ASSERT_TRUE(io->ReadByte(&value, 0x05));
    EXPECT_EQ(value, 0x45u);
    io->WriteByte(0xA7, 0x05);
    EXPECT_EQ(device.registers[5], 0xA7);
    ASSERT_TRUE(io->ReadByte(&value, 0x05));
    EXPECT_EQ(value, 0xA7u);
  }

  std::array<std::int32_t, 32> buffer{};
  buffer.fill(-1);
  ASSERT_EQ(io->ReadBlock(buffer.data(), 0, 6), 6u);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(buffer[k], device.registers[k]) << k;
  EXPECT_EQ(buffer[6], -1);

  std::array<std::int32_t, 32> out{};
  for (int k = 0; k < 32; ++k) out[k] = 0x10 + k;
  EXPECT_EQ(io->WriteBlock(out.data(), 12, 5), 5u);
  for (int k = 12; k < 17; ++k) EXPECT_EQ(device.registers[k], 0x10 + k) << k;
  EXPECT_EQ(device.registers[17], 0x40 + 17) << "nothing beyond the count is sent";

  // The device now answers blocks at 12 with what was written.
  buffer.fill(-1);
  EXPECT_EQ(io->ReadBlock(buffer.data(), 12, 5), 5u);
  for (int k = 12; k < 17; ++k) EXPECT_EQ(buffer[k], 0x10 + k) << k;
}

TEST(SmbusHosts, EveryFamilyIsFoundAndMovesBytesAndBlocks) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.chip);
    HostBoard board(family);
    ExerciseFamily(family, board.device);
  }
}

// The same through the daemon's request server and a socket connection, with the
// backend the daemon uses (requests block while the board hangs).
TEST(SmbusHosts, EveryFamilyWorksThroughTheDaemonSocket) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.chip);
    sim::ManualTimeSource time;
    const auto board = sim::Board::FromProfileText(std::string(kBoardHead) + family.chip, time);
    RegisterDevice device(kDeviceAddress >> 1);
    board->Smbus().Attach(device);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Block);
    driver::Dispatcher dispatcher(backend);
    test::TempDir dir;
    const std::string path = dir / "ZQ_I2cIo.sock";
    driver::RequestServer server(dispatcher, driver::ListenUnix(path, SOCK_SEQPACKET));
    server.Start();
    {
      auto handle = SocketDriverHandle::Connect(path);
      ASSERT_NE(handle, nullptr);
      HostFixtureScope scope(*handle);
      ExerciseFamily(family, device);
    }
    server.Stop();
  }
}

// Every shipped board carries a host the probe finds and that answers.
TEST(SmbusHosts, ShippedBoardsHaveAWorkingHost) {
  const struct {
    const char* board;
    std::int16_t kind;
  } boards[] = {{"default", kHostIntelICH5}, {"kolgra", kHostIntelICH5}, {"qav", kHostIntelICH4},
                {"nforce2", kHostNVidiaMCP}, {"sis-648", kHostSis962},   {"via-kt400", kHostVIA8235}};
  for (const auto& expected : boards) {
    SCOPED_TRACE(expected.board);
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(expected.board, time);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail);
    HostFixtureScope scope(backend);
    ASSERT_TRUE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, expected.kind);
    // Nothing answers at 0x5A on these boards: the host must say so.
    const auto io = CreateI2CIo(expected.kind, 0xB4);
    std::array<std::int32_t, 32> buffer{};
    EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 4), 0u);
    if (expected.kind != kHostSis962) {
      std::uint32_t value = 0;
      EXPECT_FALSE(io->ReadByte(&value, 0));
    }
  }
}

TEST(SmbusHosts, LongBlocksGoByteByByteOnTheIntelHost) {
  HostBoard board(kFamilies[1]);
  ASSERT_TRUE(DetectSmbusHost());
  const auto io = CreateI2CIo(kHostIntelICH5, kDeviceAddress);
  board.device.registers[kByteCountRegister] = 32;
  std::array<std::int32_t, 32> buffer{};
  ASSERT_EQ(io->ReadBlock(buffer.data(), 0, 32), 32u);
  for (int k = 0; k < 32; ++k) EXPECT_EQ(buffer[k], board.device.registers[k]) << k;
  // Fewer than the device offers: the last-byte mark ends the block early.
  buffer.fill(-1);
  ASSERT_EQ(io->ReadBlock(buffer.data(), 4, 3), 3u);
  EXPECT_EQ(buffer[6], board.device.registers[6]);
  EXPECT_EQ(buffer[7], -1);
  for (int k = 0; k < 32; ++k) buffer[k] = 0xC0 + k;
  EXPECT_EQ(io->WriteBlock(buffer.data(), 0, 32), 32u);
  for (int k = 0; k < 32; ++k) EXPECT_EQ(board.device.registers[k], 0xC0 + k) << k;
}

TEST(SmbusHosts, IntelBlockReadOfOneByteSetsLastByteAtStartAndNeverRewritesControl) {
  HostBoard board(kFamilies[1]);
  ASSERT_TRUE(DetectSmbusHost());
  std::array<std::int32_t, 32> buffer{};
  buffer.fill(-1);
  ASSERT_EQ(CreateI2CIo(kHostIntelICH5, kDeviceAddress)->ReadBlock(buffer.data(), 3, 1), 1u);
  EXPECT_EQ(buffer[3], board.device.registers[3]);
  EXPECT_EQ(buffer[4], -1);
  EXPECT_EQ(board.recording.WritesTo(0x0400 + 2), std::vector<std::uint8_t>{0x74});

  // With more bytes the control register is rewritten once, with the last-byte bit.
  board.recording.outs.clear();
  ASSERT_EQ(CreateI2CIo(kHostIntelICH5, kDeviceAddress)->ReadBlock(buffer.data(), 0, 4), 4u);
  EXPECT_EQ(board.recording.WritesTo(0x0400 + 2), (std::vector<std::uint8_t>{0x54, 0x34}));
}

TEST(SmbusHosts, BlockReadOfCountZeroTakesTheDevicesCount) {
  for (const Family& family : kFamilies) {
    if (!family.blockCountFromHost) continue;
    SCOPED_TRACE(family.chip);
    HostBoard board(family);
    ASSERT_TRUE(DetectSmbusHost());
    board.device.registers[kByteCountRegister] = 9;
    std::array<std::int32_t, 32> buffer{};
    buffer.fill(-1);
    ASSERT_EQ(CreateI2CIo(family.kind, kDeviceAddress)->ReadBlock(buffer.data(), 2, 0), 9u);
    for (int k = 2; k < 11; ++k) EXPECT_EQ(buffer[k], board.device.registers[k]) << k;
    EXPECT_EQ(buffer[11], -1);
    EXPECT_EQ(buffer[1], -1);
  }
}

TEST(SmbusHosts, ViaBlockReadTouchesOnlyTheEntriesItReads) {
  HostBoard board(kFamilies[3]);
  ASSERT_TRUE(DetectSmbusHost());
  const auto io = CreateI2CIo(kHostVIA8237, kDeviceAddress);
  std::array<std::int32_t, 32> buffer{};
  for (int k = 0; k < 32; ++k) buffer[k] = -100 - k;
  // An earlier write leaves the block buffer's index elsewhere; the read still
  // starts at its first byte.
  std::array<std::int32_t, 32> out{};
  out[20] = 0x99;
  ASSERT_EQ(io->WriteBlock(out.data(), 20, 1), 1u);
  ASSERT_EQ(io->ReadBlock(buffer.data(), 10, 4), 4u);
  for (int k = 0; k < 32; ++k) {
    if (k >= 10 && k < 14) {
      EXPECT_EQ(buffer[k], board.device.registers[k]) << k;
    } else {
      EXPECT_EQ(buffer[k], -100 - k) << k;
    }
  }
}

TEST(SmbusHosts, SisBlockReadProgramsTheDevicesCountFirst) {
  HostBoard board(kFamilies[4]);
  ASSERT_TRUE(DetectSmbusHost());
  const auto io = CreateI2CIo(kHostSis962, kDeviceAddress);
  std::array<std::int32_t, 32> buffer{};
  buffer.fill(-1);
  ASSERT_EQ(io->ReadBlock(buffer.data(), 0, 3), 3u);
  EXPECT_EQ(board.device.registers[kByteCountRegister], 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(buffer[k], board.device.registers[k]);

  // Count 0: the device's count becomes 0 and nothing is stored.
  buffer.fill(-1);
  EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 0), 0u);
  EXPECT_EQ(board.device.registers[kByteCountRegister], 0);
  for (std::int32_t entry : buffer) EXPECT_EQ(entry, -1);
}

TEST(SmbusHosts, SisByteOperationsLeaveValueAndDeviceAlone) {
  HostBoard board(kFamilies[4]);
  ASSERT_TRUE(DetectSmbusHost());
  const auto io = CreateI2CIo(kHostSis962, kDeviceAddress);
  board.recording.outs.clear();
  std::uint32_t value = 0xDEAD;
  EXPECT_TRUE(io->ReadByte(&value, 5));
  EXPECT_EQ(value, 0xDEADu);
  io->WriteByte(0x12, 5);
  EXPECT_EQ(board.device.registers[5], 0x45);
  EXPECT_TRUE(board.recording.outs.empty());
}

TEST(SmbusHosts, AbsentDeviceFailsQuicklyOnEveryFamily) {
  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.chip);
    HostBoard board(family, /*withDevice=*/false);
    ASSERT_TRUE(DetectSmbusHost());
    const auto io = CreateI2CIo(family.kind, kDeviceAddress);
    VirtualSmbusClock& clock = board.scope.virtualClock;
    std::uint32_t begin = clock.NowMs();
    if (family.byteOperations) {
      std::uint32_t value = 0x77;
      EXPECT_FALSE(io->ReadByte(&value, 1));
      EXPECT_EQ(value, 0x77u);
      io->WriteByte(1, 1);
    }
    std::array<std::int32_t, 32> buffer{};
    buffer.fill(-1);
    EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 4), 0u);
    EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 0), 0u);
    for (std::int32_t entry : buffer) EXPECT_EQ(entry, -1);
    EXPECT_EQ(io->WriteBlock(buffer.data(), 0, 4), 0u);
    // The host reports the missing device; nothing waits for a deadline.
    EXPECT_LT(clock.NowMs() - begin, kSmbusTimeoutMs);

    // The host is usable again once the device is there.
    board.board_->Smbus().Attach(board.device);
    std::uint32_t value = 0;
    if (family.byteOperations) {
      EXPECT_TRUE(io->ReadByte(&value, 1));
    }
    EXPECT_EQ(io->ReadBlock(buffer.data(), 0, 2), 2u);
    EXPECT_EQ(buffer[1], board.device.registers[1]);
  }
}

// The waits of a byte read on an idle host, as each family's steps add them up:
// ICH 10 + 5; VIA 5 + 5 (busy test) + 5 + 5 (completion test) + 5 + 5 (busy
// test); nVidia 5 + 10 + 5.
TEST(SmbusHosts, ByteReadWaitsAsEachFamilyPrescribes) {
  const struct {
    const Family& family;
    std::uint64_t delayMs;
  } cases[] = {{kFamilies[1], 15}, {kFamilies[2], 30}, {kFamilies[5], 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family.chip);
    HostBoard board(c.family);
    ASSERT_TRUE(DetectSmbusHost());
    std::uint32_t value = 0;
    const std::uint64_t before = board.scope.virtualClock.DelayedMs();
    ASSERT_TRUE(CreateI2CIo(c.family.kind, kDeviceAddress)->ReadByte(&value, 2));
    EXPECT_EQ(board.scope.virtualClock.DelayedMs() - before, c.delayMs);
    EXPECT_EQ(board.scope.virtualClock.SleptMs(), 0u) << "the virtual host finishes before the first poll";
  }
}

}  // namespace
}  // namespace rq::hw
