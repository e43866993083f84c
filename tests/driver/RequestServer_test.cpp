#include "driver/RequestServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "driver/FakeBackend.h"
#include "hw/IOInterface.h"
#include "hw/SocketDriverHandle.h"
#include "protocol/Protocol.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

using test::TempDir;
using testing::FakeBackend;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Port 0xBEEF blocks its reader until released: a request that is in progress.
class GatedBackend : public FakeBackend {
 public:
  static constexpr std::uint16_t kGatePort = 0xBEEF;
  bool ReadPort(std::uint16_t port, std::uint8_t& value) override {
    if (port == kGatePort) {
      std::unique_lock lock(gateMutex_);
      ++waiting_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
      value = 0x42;
      return true;
    }
    return FakeBackend::ReadPort(port, value);
  }
  void WaitForReader() {
    std::unique_lock lock(gateMutex_);
    changed_.wait_for(lock, 5s, [this] { return waiting_ > 0; });
  }
  void Open() {
    std::lock_guard lock(gateMutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex gateMutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

class RequestServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<RequestServer>(dispatcher, ListenUnix(path, SOCK_SEQPACKET));
    server->Start();
  }
  void TearDown() override {
    backend.Open();
    server->Stop();
  }

  // A raw client: sends one message and returns the reply (empty on EOF).
  Bytes RawRoundTrip(int fd, const Bytes& message) {
    EXPECT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL), static_cast<ssize_t>(message.size()));
    Bytes reply(protocol::wire::kMaxMessageLength + 1);
    const ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
    reply.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return reply;
  }

  TempDir dir;
  std::string path = dir / "ZQ_I2cIo.sock";
  GatedBackend backend;
  Dispatcher dispatcher{backend};
  std::unique_ptr<RequestServer> server;
};

TEST_F(RequestServerTest, EveryRequestKindThroughTheSocket) {
  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  hw::ScopedDriverHandle scope(handle.get());
  hw::IOInterface io;

  ASSERT_TRUE(io.WritePortByte(0x1040, 0x1E));
  std::uint32_t value = 0;
  ASSERT_TRUE(io.ReadPortByte(0x1040, value));
  EXPECT_EQ(value, 0x1Eu);
  ASSERT_TRUE(io.WriteIndexedByte({0x2E, 0x2F}, 0x07, 0x0B));
  ASSERT_TRUE(io.ReadIndexedByte({0x2E, 0x2F}, 0x07, value));
  EXPECT_EQ(value, 0x0Bu);
  EXPECT_EQ(io.ReadPciConfigWord(0, 31, 3, 0x20), FakeBackend::PciWord(0, 31, 3, 0x20));

  // The longest read there is: the whole 64 KiB ROM less one byte.
  std::vector<std::uint8_t> rom(0xFFFF, 0);
  ASSERT_TRUE(io.ReadPhysicalMemory(0xF0000, rom.data(), 0xFFFF));
  EXPECT_EQ(rom[0], backend.Rom(0xF0000));
  EXPECT_EQ(rom[0xFFFD], backend.Rom(0xFFFFD));
  EXPECT_EQ(rom[0xFFFE], 0);  // the driver channel's one byte short

  std::uint64_t tsc = 0;
  ASSERT_TRUE(io.ReadTimeStampCounter(tsc));
  EXPECT_EQ(tsc, 0x1122334455667788ull);

  std::uint8_t text[4] = {1, 2, 3, 4};
  EXPECT_FALSE(io.ReadPhysicalMemory(0x1000, text, 4));
  EXPECT_THAT(text, ::testing::ElementsAre(1, 2, 3, 4));
}

TEST_F(RequestServerTest, ManyClientsAtOnceEachGetTheirOwnAnswers) {
  backend.SetLogging(false);
  constexpr int kClients = 8;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      auto handle = hw::SocketDriverHandle::Connect(path);
      if (!handle) {
        ++wrong;
        return;
      }
      for (int i = 0; i < 300; ++i) {
        const std::uint8_t reg = static_cast<std::uint8_t>(c * 29 + i % 5);
        Bytes buffer(protocol::indexed_request::kLength, 0);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kIndexPort, 0x295);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kDataPort, 0x296);
        protocol::StoreU32(buffer.data(), protocol::indexed_request::kRegister, reg);
        if (!handle->DeviceIoControl(protocol::kIoctlReadIndexedByte, buffer.data(), 20) ||
            protocol::LoadU32(buffer.data(), protocol::indexed_request::kValueRead) != (reg ^ 0x5Au)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(RequestServerTest, OneHandleSharedByManyThreadsKeepsRepliesApart) {
  backend.SetLogging(false);
  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const auto bus = static_cast<std::uint8_t>(t), reg = static_cast<std::uint8_t>(i);
        Bytes buffer(protocol::pci_request::kLength, 0);
        protocol::StoreU32(buffer.data(), protocol::pci_request::kBus, bus);
        protocol::StoreU32(buffer.data(), protocol::pci_request::kRegister, reg);
        if (!handle->DeviceIoControl(protocol::kIoctlReadPciConfigWord, buffer.data(), 20) ||
            protocol::LoadU16(buffer.data(), protocol::pci_request::kValueRead) !=
                FakeBackend::PciWord(bus, 0, 0, reg)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(RequestServerTest, MalformedMessagesGetAFailureAndTheConnectionKeepsWorking) {
  Fd fd = ConnectUnix(path, SOCK_SEQPACKET);
  ASSERT_TRUE(fd.Valid());
  const auto flag = [](const Bytes& reply) {
    return reply.size() >= 4 ? protocol::LoadU32(reply.data(), 0) : 99u;
  };

  for (const Bytes& tooShort : {Bytes{}, Bytes{0x4C, 0x60}}) {
    EXPECT_EQ(RawRoundTrip(fd.Get(), tooShort), (Bytes{0, 0, 0, 0})) << tooShort.size() << " bytes";
  }

  Bytes unknown(4 + 12, 0x11);
  protocol::StoreU32(unknown.data(), 0, 0x00226058);
  Bytes reply = RawRoundTrip(fd.Get(), unknown);
  ASSERT_EQ(reply.size(), unknown.size());
  EXPECT_EQ(flag(reply), 0u);
  EXPECT_TRUE(std::equal(reply.begin() + 4, reply.end(), unknown.begin() + 4));

  Bytes wrongLength(4 + 13, 0);
  protocol::StoreU32(wrongLength.data(), 0, protocol::kIoctlReadPortByte);
  EXPECT_EQ(flag(RawRoundTrip(fd.Get(), wrongLength)), 0u);

  Bytes memoryOverrun(4 + 6 + 2, 0);
  protocol::StoreU32(memoryOverrun.data(), 0, protocol::kIoctlReadPhysicalMemory);
  protocol::StoreU32(memoryOverrun.data(), 4, 0xF0000);
  protocol::StoreU16(memoryOverrun.data(), 8, 3);
  EXPECT_EQ(flag(RawRoundTrip(fd.Get(), memoryOverrun)), 0u);

  Bytes oversized(protocol::wire::kMaxMessageLength + 10, 0);
  protocol::StoreU32(oversized.data(), 0, protocol::kIoctlReadPhysicalMemory);
  EXPECT_EQ(RawRoundTrip(fd.Get(), oversized), (Bytes{0, 0, 0, 0}));

  Bytes good(4 + 12, 0);
  protocol::StoreU32(good.data(), 0, protocol::kIoctlReadPortByte);
  protocol::StoreU32(good.data(), 4, 0x2E);
  EXPECT_EQ(flag(RawRoundTrip(fd.Get(), good)), 1u);
  EXPECT_TRUE(backend.Log().size() == 1);  // only the well-formed request reached the machine
}

TEST_F(RequestServerTest, AClientVanishingMidRequestDisturbsNobodyElse) {
  {
    Fd fd = ConnectUnix(path, SOCK_SEQPACKET);
    Bytes stuck(4 + 12, 0);
    protocol::StoreU32(stuck.data(), 0, protocol::kIoctlReadPortByte);
    protocol::StoreU32(stuck.data(), 4, GatedBackend::kGatePort);
    ASSERT_EQ(::send(fd.Get(), stuck.data(), stuck.size(), MSG_NOSIGNAL), 16);
    backend.WaitForReader();
  }                // gone before its reply
  backend.Open();  // the reply now goes to a closed connection

  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  hw::ScopedDriverHandle scope(handle.get());
  hw::IOInterface io;
  std::uint32_t value = 0;
  EXPECT_TRUE(io.ReadPortByte(0x80, value));
  for (int i = 0; i < 100 && server->ClientCount() > 1; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server->ClientCount(), 1u);
}

TEST_F(RequestServerTest, AnIdleOrBlockedClientDoesNotStallOthers) {
  Fd idle = ConnectUnix(path, SOCK_SEQPACKET);  // connected, never sends
  ASSERT_TRUE(idle.Valid());
  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  hw::ScopedDriverHandle scope(handle.get());
  hw::IOInterface io;
  std::uint32_t value = 0;
  EXPECT_TRUE(io.ReadPortByte(0x80, value));
}

TEST_F(RequestServerTest, ADaemonThatDisappearsMakesRequestsFail) {
  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  hw::ScopedDriverHandle scope(handle.get());
  hw::IOInterface io;
  std::uint32_t value = 7;
  ASSERT_TRUE(io.ReadPortByte(0x80, value));
  server->Stop();
  value = 7;
  EXPECT_FALSE(io.ReadPortByte(0x80, value));  // and no SIGPIPE ends this process
  EXPECT_FALSE(io.WritePortByte(0x80, 1));
  EXPECT_EQ(value, 7u);
}

TEST_F(RequestServerTest, DroppingClientsReportsTheirProcessesAndEndsTheirConnections) {
  auto handle = hw::SocketDriverHandle::Connect(path);
  ASSERT_NE(handle, nullptr);
  std::uint8_t buffer[12] = {};
  ASSERT_TRUE(handle->DeviceIoControl(protocol::kIoctlReadPortByte, buffer, 12));
  const auto dropped = server->DropClients();
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].pid, ::getpid());
  EXPECT_EQ(dropped[0].uid, ::getuid());
  EXPECT_TRUE(dropped[0].pidfd.Valid());  // pinned at connect
  EXPECT_FALSE(handle->DeviceIoControl(protocol::kIoctlReadPortByte, buffer, 12));
}

TEST(SocketDriverHandle, NothingListeningGivesNoHandle) {
  TempDir dir;
  EXPECT_EQ(hw::SocketDriverHandle::Connect(dir / "absent.sock"), nullptr);
  EXPECT_EQ(hw::SocketDriverHandle::Connect(""), nullptr);
  EXPECT_EQ(hw::SocketDriverHandle::Connect(dir / std::string(200, 'x')), nullptr);
}

TEST(ListenUnix, SocketIsPrivateToItsOwner) {
  TempDir dir;
  const std::string path = dir / "sub/ZQ_I2cIo.sock";
  Fd fd = ListenUnix(path, SOCK_SEQPACKET);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir / "sub").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(ListenUnix, RefusesAFolderOthersCanWriteAndNonSockets) {
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0777);
  EXPECT_THROW(ListenUnix(dir / "s.sock", SOCK_SEQPACKET), std::runtime_error);
  ::chmod(dir.Path().c_str(), 0700);
  {
    std::FILE* f = std::fopen((dir / "plain").c_str(), "w");
    std::fclose(f);
  }
  EXPECT_THROW(ListenUnix(dir / "plain", SOCK_SEQPACKET), std::runtime_error);
  EXPECT_THROW(ListenUnix(dir / std::string(120, 'y'), SOCK_SEQPACKET), std::runtime_error);
}

TEST(ListenUnix, ReplacesAStaleSocketButNotALiveOne) {
  TempDir dir;
  const std::string path = dir / "s.sock";
  {
    Fd live = ListenUnix(path, SOCK_SEQPACKET);
    EXPECT_THROW(ListenUnix(path, SOCK_SEQPACKET), std::runtime_error);
  }  // closed, the file stays behind
  Fd again = ListenUnix(path, SOCK_SEQPACKET);
  EXPECT_TRUE(ConnectUnix(path, SOCK_SEQPACKET).Valid());
}

TEST(ListenUnix, TurnsAwayClientsOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TempDir dir;
  const std::string path = dir / "s.sock";
  FakeBackend backend;
  Dispatcher dispatcher(backend);
  RequestServer server(dispatcher, ListenUnix(path, SOCK_SEQPACKET));
  server.Start();
  ::chmod(dir.Path().c_str(), 0711);
  ::chmod(path.c_str(), 0666);  // only the credential check is left to stop them
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setuid(65534) != 0) ::_exit(3);
    Fd fd = ConnectUnix(path, SOCK_SEQPACKET);
    if (!fd.Valid()) ::_exit(4);
    std::uint8_t message[16] = {0x4C, 0x60, 0x22, 0};
    ::send(fd.Get(), message, sizeof message, MSG_NOSIGNAL);
    const ssize_t n = ::recv(fd.Get(), message, sizeof message, 0);
    ::_exit(n > 0 ? 1 : 0);  // 0: the server hung up without answering
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(backend.Log().empty());
  server.Stop();
}

}  // namespace
}  // namespace rq::driver
