#pragma once
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "driver/DaemonOptions.h"

namespace rq::sim {
class Board;
class TimeSource;
}  // namespace rq::sim

namespace rq::driver {

class RealHardwareBackend;

std::string DaemonUsage();

// Throws std::runtime_error naming the shipped boards when `name` is neither a
// shipped board nor a readable profile file.
std::unique_ptr<sim::Board> LoadBoard(const std::string& name, sim::TimeSource& time);

// The board's state as the control socket reports it (caller holds no lock).
nlohmann::json InspectBoard(sim::Board& board);

// The port blocks of the real-hardware backend as `inspect` lists them: each block a
// kernel driver keeps (its driver, and the adapter that serves it instead, if any),
// then each block granted.
nlohmann::json DescribeGrants(const RealHardwareBackend& backend);

// The daemon's main work: serves until SIGTERM, SIGINT or SIGHUP. Returns the
// process exit code; messages go to standard error.
int RunDaemon(const DaemonOptions& options);
// Asks a running daemon for its board's state and prints it.
int RunInspect(const DaemonOptions& options);

}  // namespace rq::driver
