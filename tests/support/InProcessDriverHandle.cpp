#include "support/InProcessDriverHandle.h"

#include <memory>
#include <span>

#include "driver/VirtualBoardBackend.h"

namespace rq::driver {

InProcessDriverHandle::InProcessDriverHandle(Backend& backend) : dispatcher_(backend) {}

InProcessDriverHandle::InProcessDriverHandle(sim::Board& board)
    : ownedBackend_(std::make_unique<VirtualBoardBackend>(board, VirtualBoardBackend::WhenHung::Fail)),
      dispatcher_(*ownedBackend_) {}

InProcessDriverHandle::~InProcessDriverHandle() = default;

bool InProcessDriverHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  if (buffer == nullptr && length != 0) return false;
  return dispatcher_.Dispatch(code, std::span<std::uint8_t>(buffer, length));
}

}  // namespace rq::driver
