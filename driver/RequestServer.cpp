#include "driver/RequestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "protocol/Protocol.h"

namespace rq::driver {
namespace {

// The refusal spell of the overall cap (uids are never negative).
constexpr std::int64_t kEveryone = -1;

}  // namespace

RequestServer::RequestServer(Dispatcher& dispatcher, Fd listening, Options options)
    : dispatcher_(dispatcher),
      options_(std::move(options)),
      acceptor_(
          std::move(listening),
          [this](Fd connection, const PeerCredentials& peer) { Admit(std::move(connection), peer); },
          options_.accept) {}

RequestServer::~RequestServer() { Stop(); }

void RequestServer::Start() { acceptor_.Start(); }

void RequestServer::Stop() {
  if (acceptor_.Stopping()) return;
  acceptor_.Stop();
  DropClients();
  std::list<Client> finished;
  {
    std::lock_guard lock(mutex_);
    finished.swap(clients_);
  }
  for (Client& client : finished) {
    if (client.thread.joinable()) client.thread.join();
  }
}

std::vector<ClientProcess> RequestServer::DropClients() {
  std::vector<ClientProcess> processes;
  std::lock_guard lock(mutex_);
  for (Client& client : clients_) {
    if (client.done) continue;
    if (client.fd >= 0) ::shutdown(client.fd, SHUT_RDWR);
    dispatcher_.CloseConnection(client.id);  // ends a take it may be waiting in
    const int pidfd = client.process.pidfd.Get();
    processes.push_back(ClientProcess{Fd(pidfd < 0 ? -1 : ::fcntl(pidfd, F_DUPFD_CLOEXEC, 0)),
                                      client.process.pid, client.process.uid});
  }
  return processes;
}

std::size_t RequestServer::ClientCount() {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const Client& client : clients_) count += client.done ? 0 : 1;
  return count;
}

void RequestServer::ReapFinished() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->done) {
      it->thread.join();  // it has returned or is returning: nothing left to wait for
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

std::thread RequestServer::StartThread(std::function<void()> body) {
  if (options_.startThread) return options_.startThread(std::move(body));
  return std::thread(std::move(body));
}

void RequestServer::Admit(Fd connection, const PeerCredentials& peer) {
  std::lock_guard lock(mutex_);
  ReapFinished();
  if (acceptor_.Stopping()) return;
  const std::string who =
      "a client (process " + std::to_string(peer.pid) + ", uid " + std::to_string(peer.uid) + ")";
  std::int64_t spell = kEveryone;
  if (const std::string reason = RoomFor(peer, spell); !reason.empty()) {
    if (refusals_.Begin(spell)) {
      acceptor_.Log("refused " + who + ": " + reason +
                    "; further refusals of this kind are not logged until one is admitted");
    }
    return;
  }
  refusals_.End(peer.uid);
  refusals_.End(kEveryone);
  Client& client = clients_.emplace_back();
  client.fd = connection.Get();
  // Pinned now: by the time the board is reset this id may name someone else.
  client.process = ClientProcess{PinPeerProcess(connection.Get(), peer), peer.pid, peer.uid};
  if (!client.process.pidfd.Valid())
    acceptor_.Log(who + " has already gone or cannot be told from a recycled id: a reset will not end it");
  client.id = ++lastConnection_;
  try {
    client.thread = StartThread([this, &client] { ClientLoop(client); });
  } catch (const std::exception& error) {  // std::system_error, or no memory for its state
    clients_.pop_back();
    acceptor_.Log("dropped " + who + ": cannot start its thread (" + error.what() + ")");
    return;
  }
  connection.Release();  // the client's thread closes it
}

std::string RequestServer::RoomFor(const PeerCredentials& peer, std::int64_t& spell) const {
  if (clients_.size() >= options_.maxClients) {
    spell = kEveryone;
    return "already serving " + std::to_string(options_.maxClients) + " clients";
  }
  std::size_t ofUser = 0;
  for (const Client& client : clients_) ofUser += client.process.uid == peer.uid ? 1 : 0;
  if (ofUser >= options_.maxClientsPerUser) {
    spell = peer.uid;
    return "uid " + std::to_string(peer.uid) + " already has " + std::to_string(ofUser) +
           " connections, the most one user may hold";
  }
  return {};
}

std::size_t RequestServer::Serve(Dispatcher& dispatcher, std::uint8_t* message, std::size_t length,
                                 ConnectionId connection) {
  if (length < protocol::wire::kHeaderLength || length > protocol::wire::kMaxMessageLength) {
    protocol::StoreU32(message, 0, protocol::wire::kReplyFailure);
    return protocol::wire::kHeaderLength;
  }
  const std::uint32_t code = protocol::LoadU32(message, 0);
  const bool ok = dispatcher.Dispatch(code,
                                      std::span<std::uint8_t>(message + protocol::wire::kHeaderLength,
                                                              length - protocol::wire::kHeaderLength),
                                      connection);
  protocol::StoreU32(message, 0, ok ? protocol::wire::kReplySuccess : protocol::wire::kReplyFailure);
  return length;
}

void RequestServer::ClientLoop(Client& client) {
  int fd;
  ConnectionId id;
  {
    std::lock_guard lock(mutex_);
    fd = client.fd;
    id = client.id;
  }
  // One byte more than the largest request, so that MSG_TRUNC tells an oversized
  // message apart from one that just fits.
  std::vector<std::uint8_t> message(protocol::wire::kMaxMessageLength + 1);
  while (true) {
    const ssize_t received = ::recv(fd, message.data(), message.size(), MSG_TRUNC);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0) break;
    // An empty message is a malformed request like any other and is answered
    // with the failure flag; only the end of the stream ends the connection.
    if (received == 0 && PeerHasHungUp(fd)) break;
    const std::size_t replyLength = Serve(
        dispatcher_, message.data(),
        std::min<std::size_t>(static_cast<std::size_t>(received), protocol::wire::kMaxMessageLength + 1), id);
    ssize_t sent;
    do {
      sent = ::send(fd, message.data(), replyLength, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) break;
  }
  std::lock_guard lock(mutex_);
  // Under mutex_ with `done`: DropClients closes only connections not yet done, so
  // the table forgets this one for good.
  dispatcher_.EndConnection(id);
  ::close(client.fd);
  client.fd = -1;
  client.done = true;
}

}  // namespace rq::driver
