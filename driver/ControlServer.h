#pragma once
#include <functional>
#include <string>

#include "driver/Acceptor.h"
#include "driver/UnixSocket.h"

namespace rq::driver {

// The daemon's second socket (SOCK_STREAM, "<socket>.ctl"): a client sends one
// command line, gets one answer and the connection closes. It never goes through
// the request path, so it answers while the board is hung and requests block.
// Commands: "inspect" → the board's state as JSON.
class ControlServer {
 public:
  using Inspector = std::function<std::string()>;
  ControlServer(Fd listening, Inspector inspector, Acceptor::Options options = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  void Start();
  void Stop();

  // Asks the daemon at `controlPath`; false when nobody answers.
  static bool Ask(const std::string& controlPath, const std::string& command, std::string& answer);

 private:
  void Answer(int fd);

  Inspector inspector_;
  Acceptor acceptor_;  // last: its thread uses the inspector
};

}  // namespace rq::driver
