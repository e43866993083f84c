#pragma once
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace rq::driver {

struct DaemonOptions {
  enum class Mode { Serve, Inspect, Help, Version };
  Mode mode = Mode::Serve;
  std::string board;       // shipped name or a .toml file; empty: $RQ_BOARD, else "default"
  std::string socketPath;  // empty: <runtime folder>/ZQ_I2cIo.sock
  int readyFd = -1;
  bool foreground = false;
  bool realHardware = false;
  bool allowOwnedPorts = false;  // real hardware: grant blocks a kernel driver drives (unsafe)
  bool kernelSmbus = false;      // virtual board: also offer its SMBus as a kernel adapter would
  std::string hwmonRoot;         // virtual board: publish its monitor chip as hwmon under this sysfs root
  std::string group;             // members of this group may use the daemon too
  bool json = false;             // inspect: JSON instead of text
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws UsageError on an unknown option or a missing or bad value.
DaemonOptions ParseDaemonOptions(const std::vector<std::string>& args);

// The board named by the options, the environment or the default.
std::string BoardName(const DaemonOptions& options);

// The board's state (as the control socket reports it) for people.
std::string FormatInspection(const nlohmann::json& state);

}  // namespace rq::driver
