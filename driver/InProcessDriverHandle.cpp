#include "driver/InProcessDriverHandle.h"

#include <span>

namespace rq::driver {

// The board constructor lives beside the virtual-board backend, so that users of
// other backends do not link the board.

InProcessDriverHandle::InProcessDriverHandle(Backend& backend) : dispatcher_(backend) {}

InProcessDriverHandle::~InProcessDriverHandle() = default;

bool InProcessDriverHandle::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  if (buffer == nullptr && length != 0) return false;
  return dispatcher_.Dispatch(code, std::span<std::uint8_t>(buffer, length));
}

}  // namespace rq::driver
