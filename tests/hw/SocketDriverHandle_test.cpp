// The daemon connection under a daemon that stops answering (stopped, or gone
// silent): requests fail by the channel's failure rules within the reply time-out,
// and every later request fails at once.
#include "hw/SocketDriverHandle.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "hw/DriverHandle.h"
#include "hw/IOInterface.h"
#include "support/TempDir.h"

namespace rq::hw {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A listening socket in place of the daemon; the test decides whether and when
// the accepted connection answers.
class FakeDaemon {
 public:
  FakeDaemon() {
    path_ = dir_ / "ZQ_I2cIo.sock";
    listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
  }
  ~FakeDaemon() {
    if (client_ >= 0) ::close(client_);
    ::close(listener_);
  }
  const std::string& Path() const { return path_; }
  void Accept() { client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); }
  // Answers the next port read with `value`.
  void AnswerPortRead(std::uint8_t value) {
    std::uint8_t message[64];
    const ssize_t length = ::recv(client_, message, sizeof message, 0);
    ASSERT_EQ(length, 4 + 12);
    const std::uint8_t reply[4 + 12] = {1, 0, 0, 0, message[4], message[5], 0, 0, value, 0, 0, 0};
    ASSERT_EQ(::send(client_, reply, sizeof reply, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof reply));
  }

 private:
  test::TempDir dir_;
  std::string path_;
  int listener_ = -1;
  int client_ = -1;
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(SocketDriverHandleTimeout, SilentDaemonFailsRequestsWithinTheBoundThenAtOnce) {
  FakeDaemon daemon;
  auto handle = SocketDriverHandle::Connect(daemon.Path(), 200ms);
  ASSERT_NE(handle, nullptr);
  daemon.Accept();
  ScopedDriverHandle installed(handle.get());
  IOInterface io;

  // Two threads inside a request at once, as the window and a worker thread may be.
  std::uint32_t first = 0x5A, second = 0xA5;
  bool firstOk = true, secondOk = true;
  double firstMs = 0, secondMs = 0;
  const auto start = Clock::now();
  std::thread other([&] {
    secondOk = io.ReadPortByte(0x2E, second);
    secondMs = MsSince(start);
  });
  firstOk = io.ReadPortByte(0x295, first);
  firstMs = MsSince(start);
  other.join();
  EXPECT_FALSE(firstOk);
  EXPECT_FALSE(secondOk);
  EXPECT_EQ(first, 0x5Au);  // out values untouched
  EXPECT_EQ(second, 0xA5u);
  EXPECT_GE(std::max(firstMs, secondMs), 190);
  EXPECT_LT(std::max(firstMs, secondMs), 2000);

  // The driver is gone now: no request waits for the bound again.
  const auto later = Clock::now();
  EXPECT_EQ(io.ReadPciConfigWord(0, 0, 0, 0), 0);
  EXPECT_FALSE(io.WritePortByte(0x80, 1));
  EXPECT_LT(MsSince(later), 100);
}

TEST(SocketDriverHandleTimeout, SlowAnswerWithinTheBoundIsTaken) {
  FakeDaemon daemon;
  auto handle = SocketDriverHandle::Connect(daemon.Path(), 2000ms);
  ASSERT_NE(handle, nullptr);
  daemon.Accept();
  std::thread answer([&] {
    std::this_thread::sleep_for(50ms);
    daemon.AnswerPortRead(0x3C);
  });
  ScopedDriverHandle installed(handle.get());
  // What a closing program looks at: how long the daemon has left the request waiting.
  std::chrono::milliseconds waited{0};
  std::thread look([&] {
    std::this_thread::sleep_for(30ms);
    waited = handle->Waiting();
  });
  std::uint32_t value = 0;
  EXPECT_TRUE(IOInterface().ReadPortByte(0x295, value));
  answer.join();
  look.join();
  EXPECT_EQ(value, 0x3Cu);
  EXPECT_GE(waited.count(), 20);
  EXPECT_EQ(handle->Waiting().count(), 0);
}

}  // namespace
}  // namespace rq::hw
