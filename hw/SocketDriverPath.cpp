#include "driver/SocketLocation.h"
#include "hw/SocketDriverHandle.h"
#include "platform/RuntimeDir.h"

namespace rq::hw {

// Apart from the connection code, so that a handle to a given path needs no
// runtime-folder logic. The system daemon (real hardware, run as root) comes
// first when this user may use it; otherwise the user's own daemon.
std::string SocketDriverHandle::DefaultPath() {
  if (!driver::PrivateRuntimeDirNamed() && driver::ProbeSystemSocket() == driver::SystemSocket::Usable) {
    return std::string(driver::kSystemSocketFolder) + "/" + driver::kSocketFileName;
  }
  const std::string folder = platform::RuntimeDir();
  if (folder.empty()) return {};
  return folder + "/" + driver::kSocketFileName;
}

}  // namespace rq::hw
