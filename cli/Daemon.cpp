// rqctl daemon stop: ends the user's own driver daemon.
#include "cli/Commands.h"
#include "hw/DaemonControl.h"
#include "hw/SocketDriverHandle.h"
#include "protocol/SocketLocation.h"

namespace rq::cli {

int DaemonCommand(CommandContext& context) {
  if (context.args.size() != 1 || context.args[0] != "stop") {
    context.err << "rqctl: usage: rqctl daemon stop\n";
    return kExitBadArguments;
  }
  const std::string path = hw::SocketDriverHandle::DefaultPath();
  if (path.empty()) {
    context.err << "rqctl: no usable runtime folder, so no driver daemon of this user\n";
    return kExitFailure;
  }
  if (path == std::string(protocol::kSystemSocketFolder) + "/" + protocol::kSocketFileName) {
    context.err << "rqctl: the driver daemon at " << path
                << " is the system service, run by root; stop it with the system's service manager "
                   "(systemctl stop rhomboquest-driver)\n";
    return kExitRefused;
  }
  std::string detail;
  const hw::DaemonStop stopped = hw::StopDaemon(path, detail);
  context.err << "rqctl: " << detail << '\n';
  return stopped == hw::DaemonStop::Failed ? kExitFailure : kExitOk;
}

}  // namespace rq::cli
