#pragma once
#include <cstdint>
#include <memory>

#include "driver/Backend.h"
#include "driver/Dispatcher.h"
#include "hw/DriverHandle.h"

namespace rq::sim {
class Board;
}

namespace rq::driver {

// A driver handle that runs the daemon's own request decoder in this process,
// without a socket: tests and benchmarks talk to a board in the same process
// through exactly the code path the daemon serves. Test support only: the shipped
// program reaches its driver through a socket.
class InProcessDriverHandle final : public hw::DriverHandle {
 public:
  // Serves requests from `backend`, which must outlive the handle.
  explicit InProcessDriverHandle(Backend& backend);
  // Serves requests from a virtual board, which must outlive the handle. Unlike
  // the daemon, a request to a hung board fails at once instead of blocking, so
  // that a test that hangs its board cannot stall; nothing ticks the board here.
  explicit InProcessDriverHandle(sim::Board& board);
  ~InProcessDriverHandle() override;

  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;

 private:
  std::unique_ptr<Backend> ownedBackend_;
  Dispatcher dispatcher_;
};

}  // namespace rq::driver
