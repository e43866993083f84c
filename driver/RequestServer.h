#pragma once
#include <sys/types.h>

#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/Acceptor.h"
#include "driver/Dispatcher.h"
#include "driver/ProcessTree.h"
#include "driver/UnixSocket.h"

namespace rq::driver {

struct RequestServerOptions {
  // Each client costs a thread; the program needs a handful of connections.
  static constexpr std::size_t kDefaultMaxClients = 64;
  // One user's idle connections must not lock the others out of a shared daemon.
  static constexpr std::size_t kDefaultMaxClientsPerUser = 16;
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;

  std::size_t maxClients = kDefaultMaxClients;
  std::size_t maxClientsPerUser = kDefaultMaxClientsPerUser;
  ThreadStarter startThread;  // empty: std::thread; may throw
  AcceptorOptions accept;
};

// Serves control requests on a listening SOCK_SEQPACKET socket, one thread per
// client: each message is a request (u32 code + buffer), each reply the success
// flag followed by the buffer. Clients of another user are turned away. A client
// that misbehaves or vanishes only ends its own connection. Clients beyond a cap
// (overall, and per peer uid within it) are closed at once, logged once per spell
// of refusals; a client whose thread cannot be started is closed and logged: the
// daemon keeps serving the others and the board keeps its state.
class RequestServer {
 public:
  using Options = RequestServerOptions;

  RequestServer(Dispatcher& dispatcher, Fd listening, Options options = {});
  ~RequestServer();
  RequestServer(const RequestServer&) = delete;
  RequestServer& operator=(const RequestServer&) = delete;

  void Start();
  // Stops accepting, ends every connection and waits for the client threads. A
  // thread stuck in a request (a hung board) must be released by the backend first.
  void Stop();

  // Ends every current connection; returns their peer processes as pinned at
  // connect time.
  std::vector<ClientProcess> DropClients();
  std::size_t ClientCount();

  // One round trip on a message of `length` bytes in `message` (room for
  // wire::kMaxMessageLength + 1); returns the reply length. Shared with the tests.
  static std::size_t Serve(Dispatcher& dispatcher, std::uint8_t* message, std::size_t length,
                           ConnectionId connection = kInProcessConnection);

 private:
  struct Client {
    int fd = -1;  // closed by the client's own thread, under mutex_
    ClientProcess process;
    ConnectionId id = 0;  // the key of its bus locks
    bool done = false;
    std::thread thread;
  };

  void Admit(Fd connection, const PeerCredentials& peer);
  std::thread StartThread(std::function<void()> body);
  void ClientLoop(Client& client);
  void ReapFinished();  // with mutex_ held
  // The reason to turn `peer` away, empty when there is room; with mutex_ held.
  std::string RoomFor(const PeerCredentials& peer, std::int64_t& spell) const;

  Dispatcher& dispatcher_;
  Options options_;
  std::mutex mutex_;
  std::list<Client> clients_;
  RefusalSpells refusals_;  // by peer uid, kEveryone for the overall cap; under mutex_
  ConnectionId lastConnection_ = kInProcessConnection;
  Acceptor acceptor_;  // last: its thread uses the members above
};

}  // namespace rq::driver
