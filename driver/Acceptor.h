#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "driver/UnixSocket.h"

namespace rq::driver {

struct AcceptorOptions {
  // accept4(listening, nullptr, nullptr, SOCK_CLOEXEC) unless a test puts in its own.
  using AcceptFunction = std::function<int(int listening)>;
  using LogFunction = std::function<void(const std::string&)>;
  static constexpr std::chrono::milliseconds kDefaultBackOff{100};

  AcceptFunction accept;  // empty: the system call
  LogFunction log;        // empty: standard error, prefixed with the daemon's name
  std::chrono::milliseconds backOff = kDefaultBackOff;
};

// The accept loop both daemon sockets share: it waits for a connection or a stop,
// turns away peers of another user and hands each accepted connection to a handler
// on its own thread. When the process or the system runs out of descriptors or
// memory, the pending connection stays queued and the socket stays readable, so
// the loop pauses (still waking at once for a stop) instead of spinning on it.
class Acceptor {
 public:
  using Handler = std::function<void(Fd connection, const PeerCredentials& peer)>;
  using AcceptFunction = AcceptorOptions::AcceptFunction;
  using LogFunction = AcceptorOptions::LogFunction;
  using Options = AcceptorOptions;

  Acceptor(Fd listening, Handler handler, Options options = {});
  ~Acceptor();
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

  void Start();
  // Stops accepting and waits for the loop; closes the listening socket so that
  // later connection attempts are refused, not left waiting.
  void Stop();
  bool Stopping() const { return stopping_; }
  void Log(const std::string& message) const;

 private:
  void Loop();
  void AcceptOne();

  Fd listening_;
  Handler handler_;
  Options options_;
  WakePipe wake_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  bool pausing_ = false;  // the loop's own: wait out the back-off before the next accept
  bool failing_ = false;  // accepting has been failing since the last connection
};

}  // namespace rq::driver
