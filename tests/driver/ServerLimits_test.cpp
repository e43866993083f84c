// How the daemon's servers hold up when clients or the system run out of room:
// too many clients, a client thread that cannot start, no descriptors left.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/ControlServer.h"
#include "driver/FakeBackend.h"
#include "driver/RequestServer.h"
#include "protocol/Protocol.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

using test::TempDir;
using testing::FakeBackend;
using namespace std::chrono_literals;

// What the servers log, for the tests to read.
class LogSink {
 public:
  Acceptor::LogFunction Function() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      text_ += line + "\n";
    };
  }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// One port read over a raw connection: true when the server answered success.
bool Served(int fd) {
  std::uint8_t message[4 + protocol::port_request::kLength] = {};
  protocol::StoreU32(message, 0, protocol::kIoctlReadPortByte);
  protocol::StoreU32(message, 4 + protocol::port_request::kPort, 0x80);
  if (::send(fd, message, sizeof message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof message)) return false;
  pollfd pfd{fd, POLLIN, 0};
  if (::poll(&pfd, 1, 2000) != 1) return false;
  return ::recv(fd, message, sizeof message, 0) == static_cast<ssize_t>(sizeof message) &&
         protocol::LoadU32(message, 0) == protocol::wire::kReplySuccess;
}

// True when the server closed the connection without a word (within two seconds).
bool ClosedAtOnce(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  if (::poll(&pfd, 1, 2000) != 1) return false;
  char byte = 0;
  return ::recv(fd, &byte, 1, 0) == 0;
}

class ServerLimits : public ::testing::Test {
 protected:
  std::unique_ptr<RequestServer> StartRequestServer(RequestServer::Options options) {
    options.accept.log = log.Function();
    auto server = std::make_unique<RequestServer>(dispatcher, ListenUnix(path, SOCK_SEQPACKET), options);
    server->Start();
    return server;
  }
  Fd Connect() { return ConnectUnix(path, SOCK_SEQPACKET); }

  TempDir dir;
  std::string path = dir / "ZQ_I2cIo.sock";
  FakeBackend backend;
  Dispatcher dispatcher{backend};
  LogSink log;
};

TEST_F(ServerLimits, ClientsBeyondTheCapAreRefusedAndTheOthersStillServed) {
  backend.SetLogging(false);
  constexpr std::size_t kCap = 3;
  RequestServer::Options options;
  options.maxClients = kCap;
  auto server = StartRequestServer(options);
  std::vector<Fd> clients;
  for (std::size_t i = 0; i < kCap; ++i) {
    clients.push_back(Connect());
    ASSERT_TRUE(Served(clients.back().Get())) << i;
  }
  Fd extra = Connect();
  ASSERT_TRUE(extra.Valid());
  EXPECT_TRUE(ClosedAtOnce(extra.Get()));
  EXPECT_NE(log.Text().find("refused a client"), std::string::npos) << log.Text();
  for (const Fd& client : clients) EXPECT_TRUE(Served(client.Get()));

  // The cap counts live clients: one leaving makes room for the next.
  clients.pop_back();
  for (int i = 0; i < 200 && server->ClientCount() >= kCap; ++i) std::this_thread::sleep_for(5ms);
  Fd next = Connect();
  EXPECT_TRUE(Served(next.Get()));
}

TEST_F(ServerLimits, AClientWhoseThreadCannotStartIsDroppedAndServingGoesOn) {
  backend.SetLogging(false);
  std::atomic<int> starts{0};
  RequestServer::Options options;
  options.startThread = [&](std::function<void()> body) {
    if (starts++ == 0) throw std::system_error(EAGAIN, std::generic_category(), "no thread");
    return std::thread(std::move(body));
  };
  auto server = StartRequestServer(options);
  Fd unlucky = Connect();
  ASSERT_TRUE(unlucky.Valid());
  EXPECT_TRUE(ClosedAtOnce(unlucky.Get()));
  EXPECT_NE(log.Text().find("cannot start its thread"), std::string::npos) << log.Text();
  Fd next = Connect();
  EXPECT_TRUE(Served(next.Get()));
  EXPECT_EQ(server->ClientCount(), 1u);
}

// Both servers: with no descriptors left, accept4 fails while the connection stays
// queued. The loop must pause between tries, wake at once for a stop, and take the
// connection when descriptors are back.
TEST_F(ServerLimits, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
  constexpr auto kBackOff = 20ms;
  constexpr int kTries = 4;
  struct Case {
    const char* name;
    int type;
    std::function<std::function<void()>(Acceptor::Options)> start;  // returns the stop
  };
  const std::string controlPath = dir / "ZQ_I2cIo.sock.ctl";
  const Case cases[] = {
      {"requests", SOCK_SEQPACKET,
       [&](Acceptor::Options accept) -> std::function<void()> {
         RequestServer::Options options;
         options.accept = std::move(accept);
         std::shared_ptr<RequestServer> server = StartRequestServer(options);
         return [server] { server->Stop(); };
       }},
      {"control", SOCK_STREAM,
       [&](Acceptor::Options accept) -> std::function<void()> {
         accept.log = log.Function();
         auto server = std::make_shared<ControlServer>(
             ListenUnix(controlPath, SOCK_STREAM), [] { return std::string("{}"); }, std::move(accept));
         server->Start();
         return [server] { server->Stop(); };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> tries;
    std::atomic<bool> exhausted{true};
    Acceptor::Options accept;
    accept.backOff = kBackOff;
    accept.accept = [&](int listening) {
      {
        std::lock_guard lock(mutex);
        tries.push_back(std::chrono::steady_clock::now());
      }
      if (!exhausted) return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
      errno = EMFILE;
      return -1;
    };
    const auto stop = c.start(accept);
    Fd waiting = ConnectUnix(c.type == SOCK_STREAM ? controlPath : path, c.type);
    ASSERT_TRUE(waiting.Valid());
    // A load can only stretch the pauses: a spinning loop makes its tries within microseconds.
    const auto triesMade = [&] {
      std::lock_guard lock(mutex);
      return tries.size();
    };
    for (int i = 0; i < 400 && triesMade() < kTries; ++i) std::this_thread::sleep_for(5ms);
    {
      std::lock_guard lock(mutex);
      ASSERT_GE(tries.size(), static_cast<std::size_t>(kTries));
      EXPECT_GE(tries[kTries - 1] - tries[0], (kTries - 1) * kBackOff);
    }
    exhausted = false;
    if (c.type == SOCK_SEQPACKET) {
      EXPECT_TRUE(Served(waiting.Get()));
    } else {
      EXPECT_TRUE(::send(waiting.Get(), "inspect\n", 8, MSG_NOSIGNAL) == 8);
      char answer[8] = {};
      pollfd pfd{waiting.Get(), POLLIN, 0};
      EXPECT_EQ(::poll(&pfd, 1, 2000), 1);
      EXPECT_GT(::recv(waiting.Get(), answer, sizeof answer, 0), 0);
    }
    stop();
  }
  EXPECT_NE(log.Text().find("cannot accept connections"), std::string::npos) << log.Text();
}

TEST_F(ServerLimits, AStopDuringTheBackOffEndsAtOnce) {
  std::atomic<int> calls{0};
  RequestServer::Options options;
  options.accept.backOff = 60s;
  options.accept.accept = [&](int) {
    ++calls;
    errno = ENFILE;
    return -1;
  };
  auto server = StartRequestServer(options);
  Fd waiting = Connect();
  for (int i = 0; i < 400 && calls == 0; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(calls.load(), 1);
  const auto before = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

}  // namespace
}  // namespace rq::driver
