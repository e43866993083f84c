#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "driver/UnixSocket.h"

namespace rq::driver {

struct AcceptorOptions {
  // accept4(listening, nullptr, nullptr, SOCK_CLOEXEC) unless a test puts in its own.
  using AcceptFunction = std::function<int(int listening)>;
  using LogFunction = std::function<void(const std::string&)>;
  // Reads a new connection's peer; false turns it away, with why in `refusal`
  // (empty: nothing to say). AcceptPeer unless a test puts in its own.
  using PeerFunction = std::function<bool(int fd, PeerCredentials& peer, std::string& refusal)>;
  static constexpr std::chrono::milliseconds kDefaultBackOff{100};

  AcceptFunction accept;  // empty: the system call
  LogFunction log;        // empty: LogLine, the daemon's log
  PeerFunction peer;      // empty: AcceptPeer
  std::chrono::milliseconds backOff = kDefaultBackOff;
};

// Refusals are logged once per spell: the first refusal of a kind (a key) starts
// a spell and is logged, later ones of that kind are not, until a client of that
// kind is admitted again. A client that keeps knocking cannot fill the log.
class RefusalSpells {
 public:
  bool Begin(std::int64_t key) { return open_.insert(key).second; }  // true: log this one
  void End(std::int64_t key) { open_.erase(key); }
  void EndAll() { open_.clear(); }

 private:
  std::set<std::int64_t> open_;
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
  bool pausing_ = false;        // the loop's own: wait out the back-off before the next accept
  bool failing_ = false;        // accepting has been failing since the last connection
  RefusalSpells foreignPeers_;  // by uid; the loop's own
};

}  // namespace rq::driver
