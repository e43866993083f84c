#pragma once
#include <functional>
#include <string>

#include "driver/Acceptor.h"
#include "driver/UnixSocket.h"

namespace rq::driver {

// The daemon's second socket (SOCK_STREAM, "<socket>.ctl"): a client sends one
// command line, gets one answer and the connection closes. It never goes through
// the request path, so it answers while the board is hung and requests block.
// Commands: "inspect" → the board's state as JSON; "stop" → {"stopping": true,
// "daemonPid": N} and `stopper` ends the daemon, for a peer of the daemon's own
// user only (a member of a served group may use the daemon, not end it); "stop
// idle" the same, unless the stopper finds the daemon in use ({"error": why}).
class ControlServer {
 public:
  using Inspector = std::function<std::string()>;
  // Ends the daemon (asynchronously) and returns true, or says in `refusal` why not.
  using Stopper = std::function<bool(bool onlyWhenIdle, std::string& refusal)>;
  ControlServer(Fd listening, Inspector inspector, Acceptor::Options options = {}, Stopper stopper = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  void Start();
  void Stop();

  // Asks the daemon at `controlPath`; false when nobody answers.
  static bool Ask(const std::string& controlPath, const std::string& command, std::string& answer);

 private:
  void Answer(int fd, const PeerCredentials& peer);

  Inspector inspector_;
  Stopper stopper_;
  Acceptor acceptor_;  // last: its thread uses the inspector
};

}  // namespace rq::driver
