#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "hw/DriverHandle.h"

namespace rq::hw {

// The digest of the daemon's program file as the daemon at the other end of
// `handle` reports it; nothing from a daemon that does not know the request
// (a build older than the request) or cannot answer.
std::optional<std::uint64_t> DaemonBuildDigest(DriverHandle& handle);

// One command line to the daemon's control socket (<socket>.ctl), its one-line
// answer; false when nobody answers there.
bool AskDaemon(const std::string& socketPath, const std::string& command, std::string& answer);

enum class DaemonStop { NotRunning, Stopped, Failed };

// Stops the daemon serving `socketPath` and waits (at most a few seconds) until
// its process has ended, so that another can take its socket: "stop" on its
// control socket, or SIGTERM to the process its inspection names for a build
// too old to know the command. `onlyWhenIdle`: not while another client is
// connected or its watchdog is armed (Failed, and `detail` says so). `detail`
// says what happened, for a message.
DaemonStop StopDaemon(const std::string& socketPath, std::string& detail, bool onlyWhenIdle = false);

}  // namespace rq::hw
