#include "driver/Dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "driver/FakeBackend.h"
#include "driver/Protocol.h"

namespace rq::driver {
namespace {

using ::testing::ElementsAre;
using testing::FakeBackend;
using Bytes = std::vector<std::uint8_t>;

Bytes Filled(std::size_t length, std::uint8_t fill = 0xEE) { return Bytes(length, fill); }

class DispatcherTest : public ::testing::Test {
 protected:
  FakeBackend backend;
  Dispatcher dispatcher{backend};
};

TEST_F(DispatcherTest, ReadPortByteFillsTheWholeValueFieldAndNothingElse) {
  backend.WritePort(0x80, 0xA5);
  backend.ClearLog();
  Bytes buffer = Filled(port_request::kLength);
  StoreU32(buffer.data(), port_request::kPort, 0x80);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlReadPortByte, buffer));
  EXPECT_THAT(buffer, ElementsAre(0x80, 0, 0, 0, 0xA5, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE));
  EXPECT_THAT(backend.Log(), ElementsAre("in 128"));
}

TEST_F(DispatcherTest, WritePortByteUsesOnlyTheLowByteOfTheValue) {
  Bytes buffer = Filled(port_request::kLength);
  StoreU32(buffer.data(), port_request::kPort, 0x1234);
  StoreU32(buffer.data(), port_request::kValueToWrite, 0xFFFFFF3C);
  const Bytes before = buffer;
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlWritePortByte, buffer));
  EXPECT_EQ(backend.Port(0x1234), 0x3C);
  EXPECT_EQ(buffer, before);  // a write has no out field
}

TEST_F(DispatcherTest, IndexedReadWritesTheIndexThenReadsTheDataPort) {
  Bytes buffer = Filled(indexed_request::kLength);
  StoreU32(buffer.data(), indexed_request::kIndexPort, 0x295);
  StoreU32(buffer.data(), indexed_request::kDataPort, 0x296);
  StoreU32(buffer.data(), indexed_request::kRegister, 0x4F);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlReadIndexedByte, buffer));
  EXPECT_THAT(backend.Log(), ElementsAre("out 661=79", "in 662"));
  EXPECT_EQ(LoadU32(buffer.data(), indexed_request::kValueRead), 0x4Fu ^ 0x5A);
  EXPECT_EQ(LoadU32(buffer.data(), indexed_request::kValueToWrite), 0xEEEEEEEEu);
}

TEST_F(DispatcherTest, IndexedWriteWritesTheIndexThenTheValue) {
  Bytes buffer = Filled(indexed_request::kLength);
  StoreU32(buffer.data(), indexed_request::kIndexPort, 0x2E);
  StoreU32(buffer.data(), indexed_request::kDataPort, 0x2F);
  StoreU32(buffer.data(), indexed_request::kRegister, 0x07);
  StoreU32(buffer.data(), indexed_request::kValueToWrite, 0x0B);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlWriteIndexedByte, buffer));
  EXPECT_THAT(backend.Log(), ElementsAre("out 46=7", "out 47=11"));
  EXPECT_EQ(backend.Register(0x07), 0x0B);
}

TEST_F(DispatcherTest, PciReadFillsTheWordAndKeepsTheReservedBytes) {
  Bytes buffer = Filled(pci_request::kLength);
  StoreU32(buffer.data(), pci_request::kBus, 0);
  StoreU32(buffer.data(), pci_request::kDevice, 31);
  StoreU32(buffer.data(), pci_request::kFunction, 3);
  StoreU32(buffer.data(), pci_request::kRegister, 0x20);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlReadPciConfigWord, buffer));
  EXPECT_EQ(LoadU16(buffer.data(), pci_request::kValueRead), FakeBackend::PciWord(0, 31, 3, 0x20));
  EXPECT_EQ(buffer[18], 0xEE);
  EXPECT_EQ(buffer[19], 0xEE);
  EXPECT_THAT(backend.Log(), ElementsAre("pci 0:31.3@32"));
}

TEST_F(DispatcherTest, PhysicalMemoryFillsExactlyTheRequestedBytes) {
  const std::uint16_t length = 5;
  Bytes buffer = Filled(memory_request::kHeaderLength + length + 3);  // a longer buffer is allowed
  StoreU32(buffer.data(), memory_request::kAddress, 0xFE0C1);
  StoreU16(buffer.data(), memory_request::kLengthField, length);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlReadPhysicalMemory, buffer));
  for (std::uint32_t i = 0; i < length; ++i) EXPECT_EQ(buffer[6 + i], backend.Rom(0xFE0C1 + i)) << i;
  EXPECT_THAT(Bytes(buffer.end() - 3, buffer.end()), ElementsAre(0xEE, 0xEE, 0xEE));
  EXPECT_EQ(LoadU32(buffer.data(), 0), 0xFE0C1u);
}

TEST_F(DispatcherTest, TimeStampCounterIsLittleEndian) {
  Bytes buffer = Filled(tsc_request::kLength);
  ASSERT_TRUE(dispatcher.Dispatch(kIoctlReadTimeStampCounter, buffer));
  EXPECT_THAT(buffer, ElementsAre(0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11));
}

// A malformed request must fail before touching the machine and leave the buffer
// exactly as it came.
struct Malformed {
  const char* what;
  std::uint32_t code;
  Bytes buffer;
};

std::vector<Malformed> MalformedRequests() {
  std::vector<Malformed> cases;
  cases.push_back({"unknown code", 0x00226058, Filled(12, 0)});
  cases.push_back({"function code without device type", 0x813, Filled(12, 0)});
  cases.push_back({"port request too short", kIoctlReadPortByte, Filled(11, 0)});
  cases.push_back({"port request too long", kIoctlWritePortByte, Filled(13, 0)});
  cases.push_back({"indexed request too short", kIoctlReadIndexedByte, Filled(19, 0)});
  cases.push_back({"indexed request too long", kIoctlWriteIndexedByte, Filled(21, 0)});
  cases.push_back({"pci request too short", kIoctlReadPciConfigWord, Filled(16, 0)});
  cases.push_back({"tsc request too short", kIoctlReadTimeStampCounter, Filled(4, 0)});
  cases.push_back({"empty port request", kIoctlReadPortByte, {}});
  cases.push_back({"memory header cut short", kIoctlReadPhysicalMemory, Filled(5, 0)});
  {
    Bytes b = Filled(6 + 4, 0);
    StoreU32(b.data(), 0, 0xF0000);
    StoreU16(b.data(), 4, 5);
    cases.push_back({"memory length beyond the buffer", kIoctlReadPhysicalMemory, b});
  }
  {
    Bytes b = Filled(6, 0);
    StoreU32(b.data(), 0, 0xF0000);
    StoreU16(b.data(), 4, 0xFFFF);
    cases.push_back({"memory length 0xFFFF in a bare header", kIoctlReadPhysicalMemory, b});
  }
  {
    Bytes b = Filled(12, 0);
    StoreU32(b.data(), 0, 0x10000);
    cases.push_back({"port beyond 16 bits", kIoctlReadPortByte, b});
  }
  {
    Bytes b = Filled(20, 0);
    StoreU32(b.data(), 0, 0x2E);
    StoreU32(b.data(), 4, 0x1002F);
    cases.push_back({"data port beyond 16 bits", kIoctlWriteIndexedByte, b});
  }
  for (std::uint32_t field : {0u, 4u, 8u, 12u}) {
    Bytes b = Filled(20, 0);
    StoreU32(b.data(), field, field == 4 ? 32 : field == 8 ? 8 : 256);
    cases.push_back({"pci field out of range", kIoctlReadPciConfigWord, b});
  }
  return cases;
}

TEST_F(DispatcherTest, MalformedRequestsFailAndChangeNothing) {
  for (Malformed& c : MalformedRequests()) {
    SCOPED_TRACE(c.what);
    backend.ClearLog();
    const Bytes before = c.buffer;
    EXPECT_FALSE(dispatcher.Dispatch(c.code, c.buffer));
    EXPECT_EQ(c.buffer, before);
    EXPECT_TRUE(backend.Log().empty());
  }
}

TEST_F(DispatcherTest, FailedAccessLeavesTheBufferUntouched) {
  // The second access of an indexed read fails after the index write went out.
  Bytes indexed = Filled(indexed_request::kLength);
  StoreU32(indexed.data(), indexed_request::kIndexPort, 0x2E);
  StoreU32(indexed.data(), indexed_request::kDataPort, 0x2F);
  const Bytes indexedBefore = indexed;
  backend.FailAccess(1);
  EXPECT_FALSE(dispatcher.Dispatch(kIoctlReadIndexedByte, indexed));
  EXPECT_EQ(indexed, indexedBefore);

  Bytes memory = Filled(6 + 4);
  StoreU32(memory.data(), 0, 0xFFFFE);  // runs off the end of the ROM
  StoreU16(memory.data(), 4, 4);
  const Bytes memoryBefore = memory;
  EXPECT_FALSE(dispatcher.Dispatch(kIoctlReadPhysicalMemory, memory));
  EXPECT_EQ(memory, memoryBefore);

  for (std::uint32_t code : {kIoctlReadPortByte, kIoctlReadPciConfigWord, kIoctlReadTimeStampCounter}) {
    Bytes buffer = Filled(code == kIoctlReadPortByte ? 12 : code == kIoctlReadPciConfigWord ? 20 : 8);
    const Bytes before = buffer;
    backend.FailAccess(0);
    EXPECT_FALSE(dispatcher.Dispatch(code, buffer)) << std::hex << code;
    EXPECT_EQ(buffer, before);
  }
}

TEST_F(DispatcherTest, IndexedRequestsFromManyThreadsAreNeverSplit) {
  backend.SetLogging(false);
  constexpr int kThreads = 6;
  constexpr int kRounds = 2000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::uint8_t reg = static_cast<std::uint8_t>(t * 31 + i % 7);
        Bytes buffer(indexed_request::kLength, 0);
        StoreU32(buffer.data(), indexed_request::kIndexPort, 0x2E);
        StoreU32(buffer.data(), indexed_request::kDataPort, 0x2F);
        StoreU32(buffer.data(), indexed_request::kRegister, reg);
        if (!dispatcher.Dispatch(kIoctlReadIndexedByte, buffer) ||
            LoadU32(buffer.data(), indexed_request::kValueRead) != (reg ^ 0x5Au)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(DispatcherCodes, KnowsExactlyTheServedRequests) {
  for (std::uint32_t code :
       {kIoctlReadIndexedByte, kIoctlWriteIndexedByte, kIoctlReadPhysicalMemory, kIoctlReadPciConfigWord,
        kIoctlReadPortByte, kIoctlWritePortByte, kIoctlReadTimeStampCounter}) {
    EXPECT_TRUE(Dispatcher::KnownCode(code)) << std::hex << code;
  }
  EXPECT_EQ(kIoctlReadPhysicalMemory, 0x00226044u);
  EXPECT_EQ(kIoctlReadPciConfigWord, 0x00226048u);
  EXPECT_EQ(kIoctlWriteIndexedByte, 0x00226040u);
  EXPECT_EQ(kIoctlReadPortByte, 0x0022604Cu);
  EXPECT_FALSE(Dispatcher::KnownCode(0));
  EXPECT_FALSE(Dispatcher::KnownCode(0x00226028));
}

}  // namespace
}  // namespace rq::driver
