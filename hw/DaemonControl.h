#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hw/DriverHandle.h"

namespace rq::hw {

// The digest of the daemon's program file as the daemon at the other end of
// `handle` reports it; nothing from a daemon that does not know the request
// (a build older than the request) or cannot answer.
std::optional<std::uint64_t> DaemonBuildDigest(DriverHandle& handle);

// One command line to the daemon's control socket (<socket>.ctl), its one-line
// answer; false when nobody answers there.
bool AskDaemon(const std::string& socketPath, const std::string& command, std::string& answer);

// A block of ports a real-hardware daemon leaves to a kernel driver: the devices
// behind it are the driver's, not the program's.
struct KernelOwnedBlock {
  std::string what;  // as the daemon names it: "Intel SMBus host", "hardware monitor index/data"
  std::uint16_t first = 0, last = 0;
  std::string driver;
};
// The blocks left to kernel drivers, from the daemon's inspection (`inspection` is
// its answer); none from a virtual board, a daemon granted them all, or an answer
// that is not an inspection.
std::vector<KernelOwnedBlock> ParseKernelOwnedBlocks(const std::string& inspection);
// The same, asked of the daemon serving `socketPath`; none when nobody answers.
std::vector<KernelOwnedBlock> KernelOwnedBlocks(const std::string& socketPath);

enum class DaemonStop { NotRunning, Stopped, Failed };

// Stops the daemon serving `socketPath` and waits (at most a few seconds) until
// its process has ended, so that another can take its socket: "stop" on its
// control socket, or SIGTERM to the process its inspection names for a build
// too old to know the command. `onlyWhenIdle`: not while another client is
// connected or its watchdog is armed (Failed, and `detail` says so). `detail`
// says what happened, for a message.
DaemonStop StopDaemon(const std::string& socketPath, std::string& detail, bool onlyWhenIdle = false);

}  // namespace rq::hw
