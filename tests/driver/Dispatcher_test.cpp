#include "driver/Dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "driver/FakeBackend.h"
#include "protocol/Protocol.h"

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
  Bytes buffer = Filled(protocol::port_request::kLength);
  protocol::StoreU32(buffer.data(), protocol::port_request::kPort, 0x80);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlReadPortByte, buffer));
  EXPECT_THAT(buffer, ElementsAre(0x80, 0, 0, 0, 0xA5, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE));
  EXPECT_THAT(backend.Log(), ElementsAre("in 128"));
}

TEST_F(DispatcherTest, WritePortByteUsesOnlyTheLowByteOfTheValue) {
  Bytes buffer = Filled(protocol::port_request::kLength);
  protocol::StoreU32(buffer.data(), protocol::port_request::kPort, 0x1234);
  protocol::StoreU32(buffer.data(), protocol::port_request::kValueToWrite, 0xFFFFFF3C);
  const Bytes before = buffer;
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlWritePortByte, buffer));
  EXPECT_EQ(backend.Port(0x1234), 0x3C);
  EXPECT_EQ(buffer, before);  // a write has no out field
}

TEST_F(DispatcherTest, IndexedReadWritesTheIndexThenReadsTheDataPort) {
  Bytes buffer = Filled(protocol::indexed_request::kLength);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kIndexPort, 0x295);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kDataPort, 0x296);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kRegister, 0x4F);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlReadIndexedByte, buffer));
  EXPECT_THAT(backend.Log(), ElementsAre("out 661=79", "in 662"));
  EXPECT_EQ(protocol::LoadU32(buffer.data(), protocol::indexed_request::kValueRead), 0x4Fu ^ 0x5A);
  EXPECT_EQ(protocol::LoadU32(buffer.data(), protocol::indexed_request::kValueToWrite), 0xEEEEEEEEu);
}

TEST_F(DispatcherTest, IndexedWriteWritesTheIndexThenTheValue) {
  Bytes buffer = Filled(protocol::indexed_request::kLength);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kIndexPort, 0x2E);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kDataPort, 0x2F);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kRegister, 0x07);
  protocol::StoreU32(buffer.data(), protocol::indexed_request::kValueToWrite, 0x0B);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlWriteIndexedByte, buffer));
  EXPECT_THAT(backend.Log(), ElementsAre("out 46=7", "out 47=11"));
  EXPECT_EQ(backend.Register(0x07), 0x0B);
}

TEST_F(DispatcherTest, PciReadFillsTheWordAndKeepsTheReservedBytes) {
  Bytes buffer = Filled(protocol::pci_request::kLength);
  protocol::StoreU32(buffer.data(), protocol::pci_request::kBus, 0);
  protocol::StoreU32(buffer.data(), protocol::pci_request::kDevice, 31);
  protocol::StoreU32(buffer.data(), protocol::pci_request::kFunction, 3);
  protocol::StoreU32(buffer.data(), protocol::pci_request::kRegister, 0x20);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlReadPciConfigWord, buffer));
  EXPECT_EQ(protocol::LoadU16(buffer.data(), protocol::pci_request::kValueRead),
            FakeBackend::PciWord(0, 31, 3, 0x20));
  EXPECT_EQ(buffer[18], 0xEE);
  EXPECT_EQ(buffer[19], 0xEE);
  EXPECT_THAT(backend.Log(), ElementsAre("pci 0:31.3@32"));
}

TEST_F(DispatcherTest, PhysicalMemoryFillsExactlyTheRequestedBytes) {
  const std::uint16_t length = 5;
  Bytes buffer = Filled(protocol::memory_request::kHeaderLength + length + 3);  // a longer buffer is allowed
  protocol::StoreU32(buffer.data(), protocol::memory_request::kAddress, 0xFE0C1);
  protocol::StoreU16(buffer.data(), protocol::memory_request::kLengthField, length);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlReadPhysicalMemory, buffer));
  for (std::uint32_t i = 0; i < length; ++i) EXPECT_EQ(buffer[6 + i], backend.Rom(0xFE0C1 + i)) << i;
  EXPECT_THAT(Bytes(buffer.end() - 3, buffer.end()), ElementsAre(0xEE, 0xEE, 0xEE));
  EXPECT_EQ(protocol::LoadU32(buffer.data(), 0), 0xFE0C1u);
}

TEST_F(DispatcherTest, TimeStampCounterIsLittleEndian) {
  Bytes buffer = Filled(protocol::tsc_request::kLength);
  ASSERT_TRUE(dispatcher.Dispatch(protocol::kIoctlReadTimeStampCounter, buffer));
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
  cases.push_back({"port request too short", protocol::kIoctlReadPortByte, Filled(11, 0)});
  cases.push_back({"port request too long", protocol::kIoctlWritePortByte, Filled(13, 0)});
  cases.push_back({"indexed request too short", protocol::kIoctlReadIndexedByte, Filled(19, 0)});
  cases.push_back({"indexed request too long", protocol::kIoctlWriteIndexedByte, Filled(21, 0)});
  cases.push_back({"pci request too short", protocol::kIoctlReadPciConfigWord, Filled(16, 0)});
  cases.push_back({"tsc request too short", protocol::kIoctlReadTimeStampCounter, Filled(4, 0)});
  cases.push_back({"empty port request", protocol::kIoctlReadPortByte, {}});
  cases.push_back({"memory header cut short", protocol::kIoctlReadPhysicalMemory, Filled(5, 0)});
  {
    Bytes b = Filled(6 + 4, 0);
    protocol::StoreU32(b.data(), 0, 0xF0000);
    protocol::StoreU16(b.data(), 4, 5);
    cases.push_back({"memory length beyond the buffer", protocol::kIoctlReadPhysicalMemory, b});
  }
  {
    Bytes b = Filled(6, 0);
    protocol::StoreU32(b.data(), 0, 0xF0000);
    protocol::StoreU16(b.data(), 4, 0xFFFF);
    cases.push_back({"memory length 0xFFFF in a bare header", protocol::kIoctlReadPhysicalMemory, b});
  }
  {
    Bytes b = Filled(12, 0);
    protocol::StoreU32(b.data(), 0, 0x10000);
    cases.push_back({"port beyond 16 bits", protocol::kIoctlReadPortByte, b});
  }
  {
    Bytes b = Filled(20, 0);
    protocol::StoreU32(b.data(), 0, 0x2E);
    protocol::StoreU32(b.data(), 4, 0x1002F);
    cases.push_back({"data port beyond 16 bits", protocol::kIoctlWriteIndexedByte, b});
  }
  for (std::uint32_t field : {0u, 4u, 8u, 12u}) {
    Bytes b = Filled(20, 0);
    protocol::StoreU32(b.data(), field, field == 4 ? 32 : field == 8 ? 8 : 256);
    cases.push_back({"pci field out of range", protocol::kIoctlReadPciConfigWord, b});
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
  Bytes indexed = Filled(protocol::indexed_request::kLength);
  protocol::StoreU32(indexed.data(), protocol::indexed_request::kIndexPort, 0x2E);
  protocol::StoreU32(indexed.data(), protocol::indexed_request::kDataPort, 0x2F);
  const Bytes indexedBefore = indexed;
  backend.FailAccess(1);
  EXPECT_FALSE(dispatcher.Dispatch(protocol::kIoctlReadIndexedByte, indexed));
  EXPECT_EQ(indexed, indexedBefore);

  Bytes memory = Filled(6 + 4);
  protocol::StoreU32(memory.data(), 0, 0xFFFFE);  // runs off the end of the ROM
  protocol::StoreU16(memory.data(), 4, 4);
  const Bytes memoryBefore = memory;
  EXPECT_FALSE(dispatcher.Dispatch(protocol::kIoctlReadPhysicalMemory, memory));
  EXPECT_EQ(memory, memoryBefore);

  for (std::uint32_t code : {protocol::kIoctlReadPortByte, protocol::kIoctlReadPciConfigWord,
                             protocol::kIoctlReadTimeStampCounter}) {
    Bytes buffer = Filled(code == protocol::kIoctlReadPortByte        ? 12
                          : code == protocol::kIoctlReadPciConfigWord ? 20
                                                                      : 8);
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
        Bytes buffer(protocol::indexed_request::kLength, 0);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kIndexPort, 0x2E);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kDataPort, 0x2F);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kRegister, reg);
        if (!dispatcher.Dispatch(protocol::kIoctlReadIndexedByte, buffer) ||
            protocol::LoadU32(buffer.data(), protocol::indexed_request::kValueRead) != (reg ^ 0x5Au)) {
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
       {protocol::kIoctlReadIndexedByte, protocol::kIoctlWriteIndexedByte, protocol::kIoctlReadPhysicalMemory,
        protocol::kIoctlReadPciConfigWord, protocol::kIoctlReadPortByte, protocol::kIoctlWritePortByte,
        protocol::kIoctlReadTimeStampCounter}) {
    EXPECT_TRUE(Dispatcher::KnownCode(code)) << std::hex << code;
  }
  EXPECT_EQ(protocol::kIoctlReadPhysicalMemory, 0x00226044u);
  EXPECT_EQ(protocol::kIoctlReadPciConfigWord, 0x00226048u);
  EXPECT_EQ(protocol::kIoctlWriteIndexedByte, 0x00226040u);
  EXPECT_EQ(protocol::kIoctlReadPortByte, 0x0022604Cu);
  EXPECT_FALSE(Dispatcher::KnownCode(0));
  EXPECT_FALSE(Dispatcher::KnownCode(0x00226028));
}

constexpr std::uint32_t kSmbusCode = 0x00226060;

// An adapter at host 0x0400 that answers reads with fixed bytes and records transfers.
struct AdapterBackend : testing::FakeBackend {
  bool HasSmbusAdapter(std::uint16_t hostBase) override { return hostBase == 0x0400; }
  bool SmbusTransaction(std::uint16_t, SmbusTransfer& transfer) override {
    seen.push_back(transfer);
    if (transfer.kind == SmbusTransfer::Kind::kReadBlockData) transfer.data = {0x11, 0x22, 0x33};
    return true;
  }
  std::vector<SmbusTransfer> seen;
};

// Host 0x0400, then slave, command, kind and count (u32 each), then 32 data bytes.
Bytes Request(std::uint8_t slave, std::uint8_t command, std::uint8_t kind, std::uint8_t count,
              Bytes data = {}) {
  Bytes buffer = {0x00, 0x04, 0, 0, slave, 0, 0, 0, command, 0, 0, 0, kind, 0, 0, 0, count, 0, 0, 0};
  data.resize(32, 0xEE);
  buffer.insert(buffer.end(), data.begin(), data.end());
  return buffer;
}

TEST(SmbusRequest, ReadsFillCountAndDataWritesSendTheirBytesInSevenBitForm) {
  AdapterBackend backend;
  Dispatcher dispatcher(backend);
  Bytes read = Request(0xD2, 0x00, 3, 0);
  ASSERT_TRUE(dispatcher.Dispatch(kSmbusCode, read));
  EXPECT_THAT(Bytes(read.begin() + 16, read.begin() + 24), ElementsAre(3, 0, 0, 0, 0x11, 0x22, 0x33, 0xEE));
  Bytes write = Request(0x9C, 0x05, 2, 1, {0x7F});
  ASSERT_TRUE(dispatcher.Dispatch(kSmbusCode, write));
  ASSERT_EQ(backend.seen.size(), 2u);
  EXPECT_EQ(backend.seen[0].slave, 0x69);
  EXPECT_EQ(backend.seen[1].slave, 0x4E);
  EXPECT_EQ(backend.seen[1].command, 0x05);
  EXPECT_THAT(backend.seen[1].data, ElementsAre(0x7F));
  Bytes query = Request(0, 0, 0, 0);
  EXPECT_TRUE(dispatcher.Dispatch(kSmbusCode, query));
  EXPECT_EQ(backend.seen.size(), 2u);  // a query touches no slave
}

// Each is refused before any backend sees it, and leaves the buffer as it came.
TEST(SmbusRequest, RefusedRequestsReachNoBackend) {
  Bytes beyondPorts = Request(0xD2, 0, 1, 0);
  beyondPorts[2] = 1;
  const std::vector<Bytes> refused = {
      Request(0xA0, 0, 2, 1, {0}), Request(0xAE, 0, 4, 2, {1, 2}),
      Request(0xAE, 0, 1, 0),                                // SPD
      Request(0x5A, 0, 1, 0),      Request(0xD3, 0, 1, 0),   // a slave not driven, a read bit
      Request(0xD2, 0, 4, 0),      Request(0xD2, 0, 4, 33),  // blocks of 0 and 33 bytes
      Request(0xD2, 0, 5, 1),      beyondPorts,              // no such kind, host > 0xFFFF
  };
  for (const Bytes& request : refused) {
    AdapterBackend backend;
    Dispatcher dispatcher(backend);
    Bytes buffer = request;
    EXPECT_FALSE(dispatcher.Dispatch(kSmbusCode, buffer)) << int(request[4]) << " kind " << int(request[12]);
    EXPECT_EQ(buffer, request);
    EXPECT_TRUE(backend.seen.empty());
  }
}

}  // namespace
}  // namespace rq::driver
