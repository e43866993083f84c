#include "driver/DaemonOptions.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iomanip>
#include <sstream>
#include <utility>

namespace rq::driver {
namespace {

constexpr const char* kDefaultBoard = "default";

int ParseFd(const std::string& text) {
  std::size_t used = 0;
  int fd = -1;
  try {
    fd = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || fd < 0)
    throw UsageError("--ready-fd needs a file descriptor number, not '" + text + "'");
  return fd;
}

std::string Seconds(double ms) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(1) << ms / 1000.0 << " s";
  return out.str();
}

std::string Mhz(const nlohmann::json& value) {
  if (!value.is_number()) return "?";
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << value.get<double>() << " MHz";
  return out.str();
}

// "label value unit" pairs from an object of numbers, in the order given.
std::string Readings(const nlohmann::json& values,
                     std::initializer_list<std::pair<const char*, const char*>> names, const char* unit,
                     int decimals) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(decimals);
  for (const auto& [key, label] : names) {
    if (!values.contains(key) || !values[key].is_number()) continue;
    out << (out.tellp() > 0 ? ", " : "") << label << ' ' << values[key].get<double>() << unit;
  }
  return out.str();
}

// The analogue side: what the monitor chips measure, as the board really has it.
void FormatAnalog(std::ostringstream& out, const nlohmann::json& analog) {
  if (!analog.is_object()) return;
  const auto part = [&analog](const char* key) {
    return analog.contains(key) ? analog[key] : nlohmann::json::object();
  };
  out << "Supplies:  "
      << Readings(part("volts"),
                  {{"vcore", "VCore"},
                   {"vmem", "VMem"},
                   {"v33", "+3.3"},
                   {"v5", "+5"},
                   {"v12", "+12"},
                   {"vn12", "-12"},
                   {"vn5", "-5"},
                   {"vbat", "VBAT"},
                   {"5vsb", "5VSB"}},
                  " V", 3)
      << '\n'
      << "Temps:     " << Readings(analog, {{"cpuTempC", "CPU"}, {"boardTempC", "board"}}, " C", 1) << '\n'
      << "Fans:      "
      << Readings(part("fanRpm"), {{"cpu", "CPU"}, {"system", "system"}, {"aux", "aux"}}, " RPM", 0) << '\n';
}

}  // namespace

DaemonOptions ParseDaemonOptions(const std::vector<std::string>& args) {
  DaemonOptions options;
  std::size_t i = 0;
  if (!args.empty() && args[0] == "inspect") {
    options.mode = DaemonOptions::Mode::Inspect;
    i = 1;
  }
  auto value = [&](const std::string& arg, const std::string& name, std::string& out) {
    if (arg == name) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      out = args[++i];
      return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
      out = arg.substr(name.size() + 1);
      return true;
    }
    return false;
  };
  const bool inspect = options.mode == DaemonOptions::Mode::Inspect;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string text;
    if (arg == "--help" || arg == "-h") {
      options.mode = DaemonOptions::Mode::Help;
    } else if (arg == "--version") {
      options.mode = DaemonOptions::Mode::Version;
    } else if (value(arg, "--socket", text)) {
      if (text.empty()) throw UsageError("--socket needs a path");
      options.socketPath = text;
    } else if (!inspect && value(arg, "--board", text)) {
      if (text.empty()) throw UsageError("--board needs a name or a file");
      options.board = text;
    } else if (!inspect && value(arg, "--group", text)) {
      if (text.empty()) throw UsageError("--group needs a group name");
      options.group = text;
    } else if (!inspect && value(arg, "--ready-fd", text)) {
      options.readyFd = ParseFd(text);
    } else if (!inspect && arg == "--foreground") {
      options.foreground = true;
    } else if (!inspect && arg == "--real-hardware") {
      options.realHardware = true;
    } else if (!inspect && arg == "--allow-owned-ports") {
      options.allowOwnedPorts = true;
    } else if (!inspect && arg == "--kernel-smbus") {
      options.kernelSmbus = true;
    } else if (!inspect && value(arg, "--hwmon-root", text)) {
      if (text.empty()) throw UsageError("--hwmon-root needs a folder");
      options.hwmonRoot = text;
    } else if (inspect && arg == "--json") {
      options.json = true;
    } else {
      throw UsageError("unknown argument '" + arg + "'");
    }
  }
  if (options.realHardware && !options.board.empty()) {
    throw UsageError("--board and --real-hardware exclude each other");
  }
  if (options.kernelSmbus && options.realHardware) {
    throw UsageError(
        "--kernel-smbus is for the virtual board; on real hardware the kernel's adapter is used "
        "when its driver owns the SMBus host");
  }
  if (!options.hwmonRoot.empty() && options.realHardware) {
    throw UsageError("--hwmon-root is for the virtual board; on real hardware the kernel publishes its own");
  }
  if (options.allowOwnedPorts && !options.realHardware) {
    throw UsageError("--allow-owned-ports goes with --real-hardware");
  }
  return options;
}

std::string BoardName(const DaemonOptions& options) {
  if (!options.board.empty()) return options.board;
  if (const char* env = std::getenv("RQ_BOARD"); env != nullptr && *env != '\0') return env;
  return kDefaultBoard;
}

namespace {

// Who drives a block of a real-hardware daemon, for people.
std::string PortsVerdict(const nlohmann::json& block) {
  const std::string driver = block.value("kernelDriver", "");
  if (!block.value("granted", false)) {
    if (block.contains("servedThrough"))
      return "left to the kernel's " + driver + " driver, reached through its adapter " +
             block.value("servedThrough", "");
    return "left to the kernel's " + driver + " driver (unbind it or use --allow-owned-ports)";
  }
  return driver.empty() ? "served" : "served, although the kernel's " + driver + " driver drives it too";
}

}  // namespace

std::string FormatInspection(const nlohmann::json& state) {
  std::ostringstream out;
  if (state.value("realHardware", false)) {
    out << "Backend:   real hardware (no board state to inspect)\n";
    for (const auto& block : state.value("ports", nlohmann::json::array())) {
      char range[32];
      std::snprintf(range, sizeof range, "0x%04X-0x%04X", block.value("first", 0u), block.value("last", 0u));
      out << "Ports:     " << range << ' ' << block.value("what", "") << ": " << PortsVerdict(block) << '\n';
    }
    return out.str();
  }
  const auto& dog = state.contains("watchdog") ? state["watchdog"] : nlohmann::json::object();
  out << "Board:     " << state.value("profile", "?") << '\n'
      << "BIOS:      " << state.value("bios", "") << '\n'
      << "FSB:       " << Mhz(state.value("fsbMhz", nlohmann::json())) << '\n'
      << "CPU:       " << Mhz(state.value("cpuMhz", nlohmann::json())) << '\n'
      << "Watchdog:  "
      << (dog.value("armed", false) ? "armed, " + Seconds(dog.value("remainingMs", 0.0)) + " left" : "off")
      << '\n'
      << "Hung:      " << (state.value("hung", false) ? "yes" : "no") << '\n'
      << "Resets:    " << state.value("resetCount", 0) << '\n';
  if (state.contains("description")) out << "About:     " << state["description"].get<std::string>() << '\n';
  if (state.contains("analog")) FormatAnalog(out, state["analog"]);
  const auto list = [&out](const char* title, const nlohmann::json& items) {
    if (!items.is_array() || items.empty()) return;
    out << title << '\n';
    for (nlohmann::json item : items) {
      if (item.is_object() && item.contains("name") && item["name"].is_string()) {
        const std::string name = item["name"];
        item.erase("name");
        out << "  " << name << ": " << item.dump() << '\n';
      } else {
        out << "  " << item.dump() << '\n';
      }
    }
  };
  list("Chips:", state.value("chips", nlohmann::json::array()));
  list("Not modelled yet:", state.value("planned", nlohmann::json::array()));
  return out.str();
}

}  // namespace rq::driver
