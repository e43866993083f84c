#include "driver/ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace rq::driver {
namespace {

// A client that connects and says nothing must not hold the socket for long.
constexpr int kCommandTimeoutMs = 2000;
constexpr std::size_t kMaxCommandLength = 256;

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ControlServer::ControlServer(Fd listening, Inspector inspector, Acceptor::Options options, Stopper stopper)
    : inspector_(std::move(inspector)),
      stopper_(std::move(stopper)),
      acceptor_(
          std::move(listening),
          [this](Fd connection, const PeerCredentials& peer) { Answer(connection.Get(), peer); },
          std::move(options)) {}

ControlServer::~ControlServer() { Stop(); }

void ControlServer::Start() { acceptor_.Start(); }

void ControlServer::Stop() { acceptor_.Stop(); }

void ControlServer::Answer(int fd, const PeerCredentials& peer) {
  std::string command;
  while (command.find('\n') == std::string::npos && command.size() < kMaxCommandLength) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, kCommandTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char chunk[64];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    command.append(chunk, static_cast<std::size_t>(n));
  }
  command = command.substr(0, command.find('\n'));
  if (!command.empty() && command.back() == '\r') command.pop_back();
  if (command == "inspect") {
    WriteAll(fd, inspector_() + "\n");
  } else if ((command == "stop" || command == "stop idle") && stopper_) {
    std::string refusal = "only the daemon's own user may stop it";
    if (peer.uid == ::geteuid() && stopper_(command == "stop idle", refusal)) {
      WriteAll(fd, "{\"stopping\":true,\"daemonPid\":" + std::to_string(::getpid()) + "}\n");
    } else {
      WriteAll(fd, nlohmann::json{{"error", refusal}}.dump() + "\n");
    }
  } else {
    WriteAll(fd, "{\"error\":\"unknown command\"}\n");
  }
}

bool ControlServer::Ask(const std::string& controlPath, const std::string& command, std::string& answer) {
  Fd fd = ConnectUnix(controlPath, SOCK_STREAM);
  if (!fd.Valid()) return false;
  if (!WriteAll(fd.Get(), command + "\n")) return false;
  answer.clear();
  char chunk[4096];
  while (true) {
    const ssize_t n = ::recv(fd.Get(), chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    answer.append(chunk, static_cast<std::size_t>(n));
  }
  return !answer.empty();
}

}  // namespace rq::driver
