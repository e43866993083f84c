// How the daemon's servers hold up when clients or the system run out of room:
// too many clients, a client thread that cannot start, no descriptors left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
#include "driver/DaemonLog.h"
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
    if (!options.accept.log) options.accept.log = log.Function();
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

std::size_t Count(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size()) ++count;
  return count;
}

// The peer of the n-th connection gets the n-th uid, as if members of a served
// group connected: 20 of one hog, one of another user, then three more users up
// to the overall cap (16 + 1 + 16 + 16 + 15 = 64), then two beyond it.
TEST_F(ServerLimits, OneUsersConnectionsDoNotLockOutAnotherAndASpellOfRefusalsLogsOnce) {
  backend.SetLogging(false);
  struct Step {
    uid_t uid;
    int count, served;
  };
  const Step steps[] = {{2001, 20, 16}, {2002, 1, 1}, {3, 16, 16}, {4, 16, 16},
                        {5, 15, 15},    {6, 1, 0},    {7, 1, 0}};
  std::vector<uid_t> uids;
  for (const Step& step : steps) uids.insert(uids.end(), static_cast<std::size_t>(step.count), step.uid);
  std::atomic<std::size_t> accepted{0};
  RequestServer::Options options;
  options.accept.peer = [&](int fd, PeerCredentials& peer, std::string&) {
    const bool read = GetPeerCredentials(fd, peer);
    peer.uid = uids.at(accepted++);
    return read;
  };
  auto server = StartRequestServer(options);
  std::vector<Fd> kept;
  for (const Step& step : steps) {
    for (int i = 0; i < step.count; ++i) {
      kept.push_back(Connect());
      ASSERT_TRUE(i < step.served ? Served(kept.back().Get()) : ClosedAtOnce(kept.back().Get()))
          << "uid " << step.uid << " #" << i;
    }
  }
  EXPECT_EQ(server->ClientCount(), 64u);
  // Four refusals of the hog, two at the cap: one line for each spell.
  EXPECT_EQ(Count(log.Text(), "refused"), 2u) << log.Text();
  EXPECT_EQ(Count(log.Text(), "uid 2001 already has 16 connections"), 1u) << log.Text();
  EXPECT_EQ(Count(log.Text(), "already serving 64 clients"), 1u) << log.Text();
}

// The daemon's log on a pipe nobody reads: refusals keep coming, and the accept
// loop must keep turning clients away and serving the others.
TEST_F(ServerLimits, AStandardErrorNobodyReadsDoesNotStallAccepting) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  Fd reader(fds[0]), writer(fds[1]);
  ASSERT_EQ(::fcntl(writer.Get(), F_SETFL, O_NONBLOCK), 0);
  for (const std::string filler(4096, 'x'); ::write(writer.Get(), filler.data(), filler.size()) > 0;) {
  }
  ASSERT_EQ(::fcntl(writer.Get(), F_SETFL, 0), 0);
  constexpr std::size_t kCapacity = 4;
  auto queue = std::make_unique<LogQueue>(writer.Get(), kCapacity);

  constexpr int kRefused = 40;
  std::atomic<int> knocks{0};
  RequestServer::Options options;
  options.accept.log = [&queue](const std::string& line) { queue->Post(line); };
  // Every knock is another user's, so none falls in a spell already logged.
  options.accept.peer = [&knocks](int fd, PeerCredentials& peer, std::string& refusal) {
    if (!GetPeerCredentials(fd, peer)) return false;
    if (knocks++ == kRefused) return true;
    peer.uid = static_cast<uid_t>(10000 + knocks.load());
    refusal = "refused a connection from uid " + std::to_string(peer.uid);
    return false;
  };
  auto server = StartRequestServer(options);
  for (int i = 0; i < kRefused; ++i) {
    Fd knocking = Connect();
    ASSERT_TRUE(ClosedAtOnce(knocking.Get())) << i;
  }
  Fd welcome = Connect();
  EXPECT_TRUE(Served(welcome.Get()));
  ASSERT_GE(queue->Dropped(), static_cast<std::size_t>(kRefused) - kCapacity - 1);

  // Once read, the log says what it could not keep.
  std::string text;
  for (char chunk[4096]; text.find("log lines dropped") == std::string::npos;) {
    const ssize_t n = ::read(reader.Get(), chunk, sizeof chunk);
    ASSERT_GT(n, 0);
    text.append(chunk, static_cast<std::size_t>(n));
  }
  EXPECT_NE(text.find("refused a connection from uid 10001"), std::string::npos);
  EXPECT_NE(text.find(std::to_string(queue->Dropped()) + " log lines dropped"), std::string::npos);
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
