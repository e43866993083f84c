#include "hw/IOInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/FakeBackend.h"
#include "hw/DriverHandle.h"
#include "protocol/Protocol.h"
#include "support/InProcessDriverHandle.h"

namespace rq::hw {
namespace {

namespace proto = rq::protocol;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// Records what the channel hands to the driver, and answers with a scripted
// reply (or a failure that scribbles over the buffer, as a careless driver might).
class RecordingHandle : public DriverHandle {
 public:
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override {
    codes.push_back(code);
    sent.emplace_back(buffer, buffer + length);
    if (!succeed) {
      std::memset(buffer, 0xAB, length);
      return false;
    }
    for (std::size_t i = 0; i < reply.size() && i < length; ++i) buffer[i] = reply[i];
    return true;
  }
  bool succeed = true;
  Bytes reply;
  std::vector<std::uint32_t> codes;
  std::vector<Bytes> sent;
};

class IOInterfaceLayout : public ::testing::Test {
 protected:
  RecordingHandle handle;
  ScopedDriverHandle scope{&handle};
  IOInterface io;
};

TEST_F(IOInterfaceLayout, PortRequestsCarryPortAndValueAtTheirOffsets) {
  handle.reply = {0x34, 0x12, 0, 0, 0xC3, 0xFF, 0xFF, 0xFF};  // out value with junk above the low byte
  std::uint32_t value = 0;
  ASSERT_TRUE(io.ReadPortByte(0x1234, value));
  EXPECT_EQ(value, 0xC3u);
  ASSERT_TRUE(io.WritePortByte(0x0CF9, 0x06));
  EXPECT_THAT(handle.codes, ElementsAre(0x0022604Cu, 0x00226050u));
  EXPECT_THAT(handle.sent[0], ElementsAre(0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(handle.sent[1], ElementsAre(0xF9, 0x0C, 0, 0, 0, 0, 0, 0, 0x06, 0, 0, 0));
}

TEST_F(IOInterfaceLayout, IndexedRequestsCarryBothPortsRegisterAndValue) {
  handle.reply = Bytes(20, 0);
  handle.reply[12] = 0x5C;
  handle.reply[13] = 0x01;
  std::uint32_t value = 0;
  ASSERT_TRUE(io.ReadIndexedByte({0x295, 0x296}, 0x4E, value));
  EXPECT_EQ(value, 0x5Cu);
  handle.reply.clear();
  ASSERT_TRUE(io.WriteIndexedByte({0x2E, 0x2F}, 0x07, 0x0A));
  EXPECT_THAT(handle.codes, ElementsAre(0x00226024u, 0x00226040u));
  EXPECT_THAT(handle.sent[0],
              ElementsAre(0x95, 0x02, 0, 0, 0x96, 0x02, 0, 0, 0x4E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(handle.sent[1],
              ElementsAre(0x2E, 0, 0, 0, 0x2F, 0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0, 0, 0));
}

TEST_F(IOInterfaceLayout, PciRequestWidensEachFieldAndClearsTheValueBeforeTheCall) {
  handle.reply = Bytes(20, 0);
  handle.reply[16] = 0x86;
  handle.reply[17] = 0x80;
  EXPECT_EQ(io.ReadPciConfigWord(1, 31, 3, 0x20), 0x8086);
  EXPECT_EQ(handle.codes[0], 0x00226048u);
  EXPECT_THAT(handle.sent[0], ElementsAre(1, 0, 0, 0, 31, 0, 0, 0, 3, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0));
}

TEST_F(IOInterfaceLayout, PhysicalMemoryCopiesOneByteFewerThanAsked) {
  handle.reply = {0xC1, 0xE0, 0x0F, 0, 5, 0, 'A', 'B', 'C', 'D', 'E'};
  std::uint8_t destination[5] = {0, 0, 0, 0, 0x77};
  ASSERT_TRUE(io.ReadPhysicalMemory(0xFE0C1, destination, 5));
  EXPECT_EQ(handle.codes[0], 0x00226044u);
  EXPECT_THAT(handle.sent[0], ElementsAre(0xC1, 0xE0, 0x0F, 0, 5, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(destination, ElementsAre('A', 'B', 'C', 'D', 0x77));
}

TEST_F(IOInterfaceLayout, FailedRequestsLeaveOutValuesUntouched) {
  handle.succeed = false;
  std::uint32_t value = 0x99;
  EXPECT_FALSE(io.ReadPortByte(0x80, value));
  EXPECT_FALSE(io.ReadIndexedByte({0x2E, 0x2F}, 0x20, value));
  EXPECT_EQ(value, 0x99u);
  EXPECT_EQ(io.ReadPciConfigWord(0, 0, 0, 0), 0);
  std::uint8_t destination[4] = {1, 2, 3, 4};
  EXPECT_FALSE(io.ReadPhysicalMemory(0xF0000, destination, 4));
  EXPECT_THAT(destination, ElementsAre(1, 2, 3, 4));
  std::uint64_t tsc = 42;
  EXPECT_FALSE(io.ReadTimeStampCounter(tsc));
  EXPECT_EQ(tsc, 42u);
  EXPECT_FALSE(io.WritePortByte(0x80, 1));
  EXPECT_FALSE(io.WriteIndexedByte({0x2E, 0x2F}, 1, 2));
}

TEST(IOInterfaceWithoutDriver, EveryOperationFailsWithoutCallingAnything) {
  ScopedDriverHandle scope(nullptr);
  IOInterface io;
  std::uint32_t value = 7;
  EXPECT_FALSE(io.ReadPortByte(0x80, value));
  EXPECT_FALSE(io.WritePortByte(0x80, 1));
  EXPECT_FALSE(io.ReadIndexedByte({0x2E, 0x2F}, 0, value));
  EXPECT_FALSE(io.WriteIndexedByte({0x2E, 0x2F}, 0, 1));
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(io.ReadPciConfigWord(0, 0, 0, 0), 0);
  std::uint8_t destination[2] = {9, 9};
  EXPECT_FALSE(io.ReadPhysicalMemory(0xF0000, destination, 2));
  EXPECT_THAT(destination, ElementsAre(9, 9));
}

// The whole path a chip uses in tests: channel, in-process handle, the daemon's
// decoder, a backend.
class IOInterfaceInProcess : public ::testing::Test {
 protected:
  driver::testing::FakeBackend backend;
  driver::InProcessDriverHandle handle{backend};
  ScopedDriverHandle scope{&handle};
  IOInterface io;
};

TEST_F(IOInterfaceInProcess, EveryRequestKindReachesTheBackend) {
  ASSERT_TRUE(io.WritePortByte(0x1040, 0x1E));
  std::uint32_t value = 0;
  ASSERT_TRUE(io.ReadPortByte(0x1040, value));
  EXPECT_EQ(value, 0x1Eu);

  ASSERT_TRUE(io.WriteIndexedByte({0x295, 0x296}, 0x4E, 0x80));
  ASSERT_TRUE(io.ReadIndexedByte({0x295, 0x296}, 0x4E, value));
  EXPECT_EQ(value, 0x80u);
  ASSERT_TRUE(io.ReadIndexedByte({0x295, 0x296}, 0x10, value));
  EXPECT_EQ(value, 0x10u ^ 0x5A);

  EXPECT_EQ(io.ReadPciConfigWord(0, 31, 3, 0x20), driver::testing::FakeBackend::PciWord(0, 31, 3, 0x20));

  std::uint8_t text[8] = {};
  ASSERT_TRUE(io.ReadPhysicalMemory(0xFE0C1, text, sizeof text));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(text[i], backend.Rom(0xFE0C1 + i));
  EXPECT_EQ(text[7], 0);

  std::uint64_t tsc = 0;
  ASSERT_TRUE(io.ReadTimeStampCounter(tsc));
  EXPECT_EQ(tsc, 0x1122334455667788ull);
}

TEST_F(IOInterfaceInProcess, MemoryOutsideTheRomFailsAndLeavesTheDestination) {
  std::uint8_t text[4] = {1, 2, 3, 4};
  EXPECT_FALSE(io.ReadPhysicalMemory(0x000A0000, text, sizeof text));
  EXPECT_THAT(text, ElementsAre(1, 2, 3, 4));
}

TEST(InProcessDriverHandle, RejectsANullBufferWithALength) {
  driver::testing::FakeBackend backend;
  driver::InProcessDriverHandle handle(backend);
  EXPECT_FALSE(handle.DeviceIoControl(proto::kIoctlReadPortByte, nullptr, 12));
  EXPECT_TRUE(backend.Log().empty());
}

}  // namespace
}  // namespace rq::hw
