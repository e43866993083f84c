#pragma once
#include <cstdint>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "driver/Backend.h"
#include "driver/BusLockTable.h"

namespace rq::driver {

// Decodes one control request (code + buffer) and performs it on a backend.
// Requests are atomic with respect to each other: an indexed request (index write,
// then data access) is never split by another client's request.
//
// A request either succeeds and fills its out fields, or fails and leaves the
// buffer exactly as it came in: a malformed request (unknown code, wrong buffer
// length, a field out of range) and a failed access change nothing.
//
// A bus lock request is answered from the lock table, outside the mutex that
// orders the board's requests: a take may wait for another connection's sequence.
class Dispatcher {
 public:
  explicit Dispatcher(Backend& backend, BusLockTable* busLocks = nullptr)
      : backend_(backend), busLocks_(busLocks != nullptr ? *busLocks : ownBusLocks_) {}
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // The answer to kIoctlDaemonBuild (build_request::kLength bytes); set once,
  // before serving. Unset, that request fails as an unknown one.
  void SetBuildIdentity(std::vector<std::uint8_t> identity) { buildIdentity_ = std::move(identity); }
  bool Dispatch(std::uint32_t code, std::span<std::uint8_t> buffer,
                ConnectionId connection = kInProcessConnection);
  // The bus locks of a connection that is going away (see BusLockTable).
  void CloseConnection(ConnectionId connection) { busLocks_.Close(connection); }
  void EndConnection(ConnectionId connection) { busLocks_.Forget(connection); }

  // True when `code` is one of the requests the driver serves.
  static bool KnownCode(std::uint32_t code);

 private:
  bool ReadPort(std::span<std::uint8_t> buffer);
  bool WritePort(std::span<std::uint8_t> buffer);
  bool ReadIndexed(std::span<std::uint8_t> buffer);
  bool WriteIndexed(std::span<std::uint8_t> buffer);
  bool ReadPci(std::span<std::uint8_t> buffer);
  bool ReadMemory(std::span<std::uint8_t> buffer);
  bool ReadTsc(std::span<std::uint8_t> buffer);
  bool BusLock(std::span<std::uint8_t> buffer, ConnectionId connection);
  bool Smbus(std::span<std::uint8_t> buffer);

  Backend& backend_;
  BusLockTable ownBusLocks_;
  BusLockTable& busLocks_;
  std::mutex mutex_;
  std::vector<std::uint8_t> buildIdentity_;
};

}  // namespace rq::driver
