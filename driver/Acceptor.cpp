#include "driver/Acceptor.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "driver/DaemonLog.h"

namespace rq::driver {
namespace {

// Failures that concern only the connection being accepted: the next one may work.
bool OnlyThisConnectionFailed(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED ||
         error == EPROTO;
}

}  // namespace

Acceptor::Acceptor(Fd listening, Handler handler, Options options)
    : listening_(std::move(listening)), handler_(std::move(handler)), options_(std::move(options)) {}

Acceptor::~Acceptor() { Stop(); }

void Acceptor::Start() {
  thread_ = std::thread([this] { Loop(); });
}

void Acceptor::Stop() {
  if (stopping_.exchange(true)) return;
  wake_.Wake();
  if (thread_.joinable()) thread_.join();
  listening_.Reset();
}

void Acceptor::Log(const std::string& message) const {
  if (options_.log) {
    options_.log(message);
  } else {
    LogLine(message);
  }
}

void Acceptor::Loop() {
  while (!stopping_) {
    const bool paused = std::exchange(pausing_, false);
    pollfd fds[2] = {{wake_.ReadFd(), POLLIN, 0}, {listening_.Get(), POLLIN, 0}};
    const int timeoutMs = paused ? static_cast<int>(options_.backOff.count()) : -1;
    if (::poll(fds, paused ? 1 : 2, timeoutMs) < 0) {
      pausing_ = paused || errno != EINTR;
      continue;
    }
    if (fds[0].revents != 0) return;
    if (paused) continue;
    if ((fds[1].revents & POLLIN) != 0) {
      AcceptOne();
    } else if (fds[1].revents != 0) {
      pausing_ = true;  // an error on the listening socket: do not spin on it
    }
  }
}

void Acceptor::AcceptOne() {
  Fd connection(options_.accept ? options_.accept(listening_.Get())
                                : ::accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!connection.Valid()) {
    const int error = errno;
    if (OnlyThisConnectionFailed(error)) return;
    // Out of descriptors or memory: the connection waits in the queue until
    // something is freed; say so once per spell, not at every retry.
    if (!failing_) {
      Log("cannot accept connections (" + std::generic_category().message(error) + "), retrying every " +
          std::to_string(options_.backOff.count()) + " ms");
    }
    failing_ = true;
    pausing_ = true;
    return;
  }
  if (failing_) Log("accepting connections again");
  failing_ = false;
  PeerCredentials peer;
  std::string refusal;
  if (!(options_.peer ? options_.peer(connection.Get(), peer, refusal)
                      : AcceptPeer(connection.Get(), peer, refusal))) {
    if (!refusal.empty() && foreignPeers_.Begin(peer.uid))
      Log(refusal + " (further refusals of this uid are not logged until a client is admitted)");
    return;
  }
  foreignPeers_.EndAll();
  try {
    handler_(std::move(connection), peer);
  } catch (const std::exception& error) {
    // One client's trouble must not end the daemon and the board it serves.
    Log(std::string("dropped a client: ") + error.what());
  }
}

}  // namespace rq::driver
