#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "driver/Dispatcher.h"
#include "driver/FakeBackend.h"
#include "protocol/Protocol.h"

namespace rq::driver {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// An adapter at host 0x0400 that answers reads with fixed bytes and records transfers.
class AdapterBackend : public testing::FakeBackend {
 public:
  bool HasSmbusAdapter(std::uint16_t hostBase) override { return hostBase == 0x0400; }
  bool SmbusTransaction(std::uint16_t hostBase, SmbusTransfer& transfer) override {
    seen.push_back(transfer);
    if (hostBase != 0x0400) return false;
    if (transfer.kind == SmbusTransfer::Kind::kReadBlockData) transfer.data = {0x11, 0x22, 0x33};
    if (transfer.kind == SmbusTransfer::Kind::kReadByteData) transfer.data = {0x5C};
    return true;
  }
  std::vector<SmbusTransfer> seen;
};

// host, slave, command, kind, count: the request's first 20 bytes, then 32 data bytes.
Bytes Request(Bytes head, Bytes data = {}) {
  head.resize(20 + 32, 0xEE);
  std::copy(data.begin(), data.end(), head.begin() + 20);
  return head;
}

TEST(SmbusRequest, BlockReadFillsCountAndData) {
  AdapterBackend backend;
  Dispatcher dispatcher(backend);
  Bytes buffer = Request({0x00, 0x04, 0, 0, 0xD2, 0, 0, 0, 0x00, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(dispatcher.Dispatch(0x00226060, buffer));
  EXPECT_THAT(Bytes(buffer.begin() + 16, buffer.begin() + 24),
              ElementsAre(3, 0, 0, 0, 0x11, 0x22, 0x33, 0xEE));
  ASSERT_EQ(backend.seen.size(), 1u);
  EXPECT_EQ(backend.seen[0].slave, 0x69);  // 7-bit form
}

TEST(SmbusRequest, ByteWriteSendsOneByteToTheSlave) {
  AdapterBackend backend;
  Dispatcher dispatcher(backend);
  Bytes buffer = Request({0x00, 0x04, 0, 0, 0x9C, 0, 0, 0, 0x05, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}, {0x7F});
  const Bytes before = buffer;
  ASSERT_TRUE(dispatcher.Dispatch(0x00226060, buffer));
  EXPECT_EQ(buffer, before);
  ASSERT_EQ(backend.seen.size(), 1u);
  EXPECT_EQ(backend.seen[0].slave, 0x4E);
  EXPECT_EQ(backend.seen[0].command, 0x05);
  EXPECT_THAT(backend.seen[0].data, ElementsAre(0x7F));
}

TEST(SmbusRequest, QueryTouchesNoSlave) {
  AdapterBackend backend;
  Dispatcher dispatcher(backend);
  Bytes here = Request({0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Bytes elsewhere = Request({0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(dispatcher.Dispatch(0x00226060, here));
  EXPECT_FALSE(dispatcher.Dispatch(0x00226060, elsewhere));
  EXPECT_TRUE(backend.seen.empty());
}

// Each is refused before any backend sees it, and leaves the buffer as it came.
TEST(SmbusRequest, RefusedRequestsReachNoBackend) {
  const std::vector<Bytes> refused = {
      Request({0x00, 0x04, 0, 0, 0xA0, 0, 0, 0, 0x00, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}, {0x00}),  // SPD write
      Request({0x00, 0x04, 0, 0, 0xAE, 0, 0, 0, 0x00, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0}, {1, 2}),  // SPD block
      Request({0x00, 0x04, 0, 0, 0xAE, 0, 0, 0, 0x00, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),          // SPD read
      Request({0x00, 0x04, 0, 0, 0x5A, 0, 0, 0, 0x00, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),   // not driven
      Request({0x00, 0x04, 0, 0, 0xD3, 0, 0, 0, 0x00, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),   // read bit set
      Request({0x00, 0x04, 0, 0, 0xD2, 0, 0, 0, 0x00, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}),   // empty block
      Request({0x00, 0x04, 0, 0, 0xD2, 0, 0, 0, 0x00, 0, 0, 0, 4, 0, 0, 0, 33, 0, 0, 0}),  // block too long
      Request({0x00, 0x04, 0, 0, 0xD2, 0, 0, 0, 0x00, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0}),   // no such kind
      Request({0x00, 0x04, 1, 0, 0xD2, 0, 0, 0, 0x00, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),  // host beyond ports
  };
  for (std::size_t i = 0; i < refused.size(); ++i) {
    AdapterBackend backend;
    Dispatcher dispatcher(backend);
    Bytes buffer = refused[i];
    EXPECT_FALSE(dispatcher.Dispatch(0x00226060, buffer)) << "case " << i;
    EXPECT_EQ(buffer, refused[i]) << "case " << i;
    EXPECT_TRUE(backend.seen.empty()) << "case " << i;
  }
  AdapterBackend backend;
  Dispatcher dispatcher(backend);
  Bytes shortBuffer(51, 0);
  EXPECT_FALSE(dispatcher.Dispatch(0x00226060, shortBuffer));
}

}  // namespace
}  // namespace rq::driver
