#include "driver/VirtualBoardBackend.h"

#include <gtest/gtest.h>

#include <future>

#include "hw/IOInterface.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"

namespace rq::driver {
namespace {

using namespace std::chrono_literals;

class VirtualBoardTest : public ::testing::Test {
 protected:
  sim::ManualTimeSource time;
  std::unique_ptr<sim::Board> board = sim::Board::Shipped("default", time);
};

TEST_F(VirtualBoardTest, InProcessHandleServesTheBoard) {
  InProcessDriverHandle handle(*board);
  hw::ScopedDriverHandle scope(&handle);
  hw::IOInterface io;
  EXPECT_EQ(io.ReadPciConfigWord(0, 0, 0, 0), board->Pci().ReadConfigWord({0, 0, 0}, 0));
  std::uint8_t text[200] = {};
  ASSERT_TRUE(io.ReadPhysicalMemory(sim::BiosRom::kModelStringAddress, text, sizeof text));
  EXPECT_GT(std::string(reinterpret_cast<const char*>(text)).size(), 0u);
  std::uint8_t outside[4] = {};
  EXPECT_FALSE(io.ReadPhysicalMemory(0xE0000, outside, sizeof outside));
}

TEST_F(VirtualBoardTest, InProcessRequestsToAHungBoardFailAtOnce) {
  InProcessDriverHandle handle(*board);
  hw::ScopedDriverHandle scope(&handle);
  hw::IOInterface io;
  board->Hang();
  std::uint32_t value = 5;
  EXPECT_FALSE(io.ReadPortByte(0x80, value));
  EXPECT_EQ(value, 5u);
  board->PowerOnReset();
  EXPECT_TRUE(io.ReadPortByte(0x80, value));
}

TEST_F(VirtualBoardTest, DaemonRequestsWaitOutAHangAndFailWhenTheBoardResets) {
  VirtualBoardBackend backend(*board, VirtualBoardBackend::WhenHung::Block);
  board->Hang();
  auto pending = std::async(std::launch::async, [&] {
    std::uint8_t value = 0;
    return backend.ReadPort(0x80, value);
  });
  EXPECT_EQ(pending.wait_for(100ms), std::future_status::timeout);  // no answer from a hung machine
  {
    auto lock = board->Lock();  // the board stays reachable meanwhile: the wait holds no lock
    EXPECT_TRUE(board->Hung());
  }
  board->PowerOnReset();
  EXPECT_FALSE(pending.get());  // the request belonged to the machine that went down
  std::uint8_t value = 0;
  EXPECT_TRUE(backend.ReadPort(0x80, value));
}

TEST_F(VirtualBoardTest, ShutdownReleasesWaitingRequests) {
  VirtualBoardBackend backend(*board, VirtualBoardBackend::WhenHung::Block);
  board->Hang();
  auto pending = std::async(std::launch::async, [&] {
    std::uint16_t value = 0;
    return backend.ReadPciConfigWord(0, 0, 0, 0, value);
  });
  EXPECT_EQ(pending.wait_for(50ms), std::future_status::timeout);
  backend.Shutdown();
  EXPECT_FALSE(pending.get());
}

}  // namespace
}  // namespace rq::driver
