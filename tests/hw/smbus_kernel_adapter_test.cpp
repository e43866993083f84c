#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "driver/VirtualBoardBackend.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using Block = std::array<std::int32_t, 32>;

// The clock generator's first eight registers (the SiS host reads only counted blocks).
std::pair<unsigned, Block> ReadClock(I2CIo& io) {
  Block block{};
  const unsigned count = io.ReadBlock(block.data(), 0, 8);
  return {count, block};
}

// On every shipped board with a clock generator the kernel adapter's class is chosen, sees
// its registers as the port-level host does, and its writes land where that host reads them.
TEST(SmbusKernelAdapter, ReachesTheSameClockGeneratorAsThePortLevelHost) {
  unsigned compared = 0;
  for (const std::string& name : sim::Board::ShippedNames()) {
    SCOPED_TRACE(name);
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(name, time);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, true);
    testing::HostFixtureScope scope(backend);
    if (!DetectSmbusHost()) continue;  // a north bridge's board: no SMBus host
    ASSERT_TRUE(ProcessSmbusHost().kernelAdapter);
    const auto kernel = CreateI2CIo(ProcessSmbusHost(), 0xD2);
    const auto ports = CreateI2CIo(ProcessSmbusHost().kind, 0xD2);
    auto [count, block] = ReadClock(*kernel);
    EXPECT_EQ(ReadClock(*ports), std::pair(count, block));
    if (name == "default") {
      EXPECT_THAT(std::vector(block.begin(), block.begin() + 8),
                  ::testing::ElementsAre(0, 31, 0, 0, 0, 0, 0, 40));
    }
    if (count == 0) continue;  // no clock generator on this board
    ++compared;
    block[1] ^= 0x40;
    EXPECT_EQ(kernel->WriteBlock(block.data(), 0, 2), 2u);
    EXPECT_EQ(ReadClock(*ports).second[1], block[1]);
    EXPECT_EQ(kernel->ReadBlock(block.data(), 40, 1), 0u);                                // beyond the buffer
    EXPECT_EQ(CreateI2CIo(ProcessSmbusHost(), 0xA0)->ReadBlock(block.data(), 0, 8), 0u);  // SPD
  }
  EXPECT_GE(compared, 14u);  // the shipped boards with a clock generator
}

}  // namespace
}  // namespace rq::hw
