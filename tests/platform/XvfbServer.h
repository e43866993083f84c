#pragma once
// A private X server for tests that need windows: Xvfb picks a free display
// itself (-displayfd) and reports it once it accepts connections. DISPLAY points
// at it while the object lives; the server is stopped whatever the outcome.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/Process.h"
#include "platform/TestSupport.h"

namespace rq::platform::test {

class XvfbServer {
 public:
  XvfbServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    server_ = Process::Start("Xvfb -displayfd " + std::to_string(fds[1]) +
                             " -screen 0 1024x768x24 -nolisten tcp -noreset");
    ::close(fds[1]);
    std::string number;
    pollfd entry{fds[0], POLLIN, 0};
    char c = 0;
    while (server_ && ::poll(&entry, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) {
      display_ = ":" + number;
      env_ = std::make_unique<ScopedEnv>("DISPLAY", display_);
    }
  }
  ~XvfbServer() {
    env_.reset();
    if (server_) {
      ::kill(server_->Pid(), SIGTERM);
      if (!server_->Wait(5000)) {
        server_->Kill();
        server_->Wait();
      }
    }
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  static bool Available() {
    return ::access("/usr/bin/Xvfb", X_OK) == 0 || ::system("command -v Xvfb >/dev/null 2>&1") == 0;
  }
  bool Running() const { return !display_.empty(); }
  const std::string& Display() const { return display_; }

 private:
  std::unique_ptr<Process> server_;
  std::string display_;
  std::unique_ptr<ScopedEnv> env_;
};

}  // namespace rq::platform::test
