#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "driver/VirtualBoardBackend.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using Block = std::array<std::int32_t, 32>;

// The clock generator's first eight registers, read by the host class `io` (the SiS
// host reads only counted blocks); the count the read stored first.
std::pair<unsigned, Block> ReadClock(I2CIo& io) {
  Block block{};
  const unsigned count = io.ReadBlock(block.data(), 0, 8);
  return {count, block};
}

// On every shipped board with a clock generator the kernel adapter's class is chosen, sees
// its block as the port-level host does, and its writes land where that host reads them back.
TEST(SmbusKernelAdapter, ReachesTheSameClockGeneratorAsThePortLevelHost) {
  unsigned compared = 0;
  for (const std::string& name : sim::Board::ShippedNames()) {
    SCOPED_TRACE(name);
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(name, time);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, true);
    HostFixtureScope scope(backend);
    if (!DetectSmbusHost()) continue;  // a north bridge's board: no SMBus host
    ASSERT_TRUE(ProcessSmbusHost().kernelAdapter);
    const auto kernel = CreateI2CIo(ProcessSmbusHost(), 0xD2);
    const auto ports = CreateI2CIo(ProcessSmbusHost().kind, 0xD2);
    const auto [count, block] = ReadClock(*kernel);
    EXPECT_EQ(ReadClock(*ports), std::pair(count, block));
    if (count == 0) continue;  // no clock generator on this board
    ++compared;
    Block changed = block;
    changed[1] ^= 0x40;
    EXPECT_EQ(kernel->WriteBlock(changed.data(), 0, 2), 2u);
    EXPECT_EQ(ReadClock(*ports).second[1], changed[1]);
    EXPECT_EQ(kernel->ReadBlock(changed.data(), 40, 1), 0u);  // nothing beyond the buffer
  }
  EXPECT_GE(compared, 14u);  // the shipped boards with a clock generator
}

TEST(SmbusKernelAdapter, DefaultBoardBytesAndTheOtherWay) {
  sim::ManualTimeSource time;
  const auto board = sim::Board::Shipped("default", time);
  driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, true);
  HostFixtureScope scope(backend);
  ASSERT_TRUE(DetectSmbusHost());
  const auto kernel = CreateI2CIo(ProcessSmbusHost(), 0xD2);
  const auto [count, block] = ReadClock(*kernel);
  EXPECT_EQ(count, 8u);
  EXPECT_THAT(std::vector<std::int32_t>(block.begin(), block.begin() + 8),
              ::testing::ElementsAre(0, 31, 0, 0, 0, 0, 0, 40));
  EXPECT_EQ(CreateI2CIo(ProcessSmbusHost(), 0xA0)->ReadBlock(Block{}.data(), 0, 0), 0u);  // SPD refused

  driver::VirtualBoardBackend ports(*board, driver::VirtualBoardBackend::WhenHung::Fail);
  HostFixtureScope portScope(ports);
  ASSERT_TRUE(DetectSmbusHost());
  EXPECT_FALSE(ProcessSmbusHost().kernelAdapter);
}

}  // namespace
}  // namespace rq::hw
