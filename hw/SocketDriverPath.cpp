#include "hw/SocketDriverHandle.h"
#include "platform/RuntimeDir.h"
#include "protocol/SocketLocation.h"

namespace rq::hw {

// Apart from the connection code, so that a handle to a given path needs no
// runtime-folder logic. The system daemon (real hardware, run as root) comes
// first when this user may use it; otherwise the user's own daemon.
std::string SocketDriverHandle::DefaultPath() {
  if (!protocol::PrivateRuntimeDirNamed() &&
      protocol::ProbeSystemSocket() == protocol::SystemSocket::Usable) {
    return std::string(protocol::kSystemSocketFolder) + "/" + protocol::kSocketFileName;
  }
  const std::string folder = platform::RuntimeDir();
  if (folder.empty()) return {};
  return folder + "/" + protocol::kSocketFileName;
}

}  // namespace rq::hw
