#include "hw/SocketDriverHandle.h"
#include "platform/RuntimeDir.h"

namespace rq::hw {

// Apart from the connection code, so that a handle to a given path needs no
// runtime-folder logic.
std::string SocketDriverHandle::DefaultPath() {
  const std::string folder = platform::RuntimeDir();
  if (folder.empty()) return {};
  return folder + "/ZQ_I2cIo.sock";
}

}  // namespace rq::hw
