// status, sensors and log: what the system object reads, as text, JSON and CSV.
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/Commands.h"
#include "engine/Sensors.h"
#include "hw/I2CIo.h"

namespace rq::cli {
namespace {

using nlohmann::json;

constexpr const char* kAnsiClear = "\x1b[H\x1b[2J";
constexpr auto kStopPoll = std::chrono::milliseconds(50);
constexpr int kLabelWidth = 24;

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << (value == 0.0 ? 0.0 : value);
  return text.str();
}

// Sleeps `seconds`, ending early once a stop was asked for; false then.
bool SleepUnlessStopped(double seconds, const Environment& environment) {
  const auto end =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    if (environment.stop != nullptr && environment.stop->load()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        kStopPoll, std::chrono::steady_clock::duration(end - now)));
  }
}

bool Stopped(const Environment& environment) {
  return environment.stop != nullptr && environment.stop->load();
}

template <typename Device>
json DeviceJson(const Device* device) {
  if (device == nullptr) return nullptr;
  return {{"model", device->GetModel()}, {"description", device->GetDescription()}};
}

const char* HostName(std::int16_t kind) {
  switch (kind) {
    case hw::kHostIntelICH2:
      return "ICH2";
    case hw::kHostIntelICH4:
      return "ICH4";
    case hw::kHostIntelICH5:
      return "ICH5";
    case hw::kHostVIA8233A:
      return "VT8233A";
    case hw::kHostVIA8235:
      return "VT8235";
    case hw::kHostVIA8237:
      return "VT8237";
    case hw::kHostSis962:
      return "SiS962";
    case hw::kHostNVidiaMCP:
      return "MCP";
    default:
      return "";
  }
}

json SmbusHostJson() {
  const hw::SmbusHostState& host = hw::ProcessSmbusHost();
  if (host.kind == hw::kHostNone) return nullptr;
  return {{"model", HostName(host.kind)}, {"kind", host.kind}, {"base", host.base}};
}

json OptionalNumber(std::optional<double> value) { return value ? json(*value) : json(nullptr); }

json StatusJson(engine::MSupport& support, std::optional<double> cpuMhz) {
  hw::DetectSmbusHost();  // found once by detection already; answers from memory
  const bool voltages = support.HasVoltageDevice();
  return {
      {"bios", support.biosModel},
      {"boardModel", support.boardModel},
      {"chips",
       {{"northBridge", DeviceJson(support.northBridge.get())},
        {"smbusHost", SmbusHostJson()},
        {"clockGenerator", DeviceJson(support.clockGenerator.get())},
        {"overclockController", DeviceJson(support.overclockController.get())},
        {"gpioVoltage", DeviceJson(support.gpioVoltage.get())},
        {"hardwareMonitor", DeviceJson(support.hardwareMonitor.get())}}},
      {"clocks",
       {{"cpuMhz", OptionalNumber(cpuMhz)},
        {"fsbMhz", support.fsbClock.load()},
        {"agpMhz", support.agpClock.load()},
        {"pciMhz", support.pciClock.load()},
        {"memoryMhz", support.memoryClock.load()}}},
      {"overclockPercent", support.GetOverclockPercent()},
      {"hwDefaultMhz", support.hwDefaultClock.load()},
      {"safeFreqMhz", OptionalNumber(support.StoredSafeFreq())},
      {"voltages",
       {{"coreV", voltages ? json(support.coreVoltage.load()) : json(nullptr)},
        {"memoryV", voltages ? json(support.memoryVoltage.load()) : json(nullptr)}}},
      {"watchdog", {{"running", support.WatchdogRunning()}, {"inWatch", support.GetInWatch()}}},
      {"settingsFile", support.SettingsFile()},
  };
}

void Line(std::ostream& out, const std::string& name, const std::string& value) {
  out << std::left << std::setw(kLabelWidth) << (name + ":") << value << '\n';
}

std::string DeviceText(const json& device) {
  if (device.is_null()) return "none";
  if (device.contains("description")) {
    return device["model"].get<std::string>() + " (" + device["description"].get<std::string>() + ")";
  }
  std::ostringstream text;
  text << device["model"].get<std::string>() << " at 0x" << std::hex << device["base"].get<int>();
  return text.str();
}

std::string MhzText(const json& value) {
  return value.is_null() ? "unknown" : Fixed(value.get<double>(), 2) + " MHz";
}
std::string VoltText(const json& value) {
  return value.is_null() ? "n/a" : Fixed(value.get<double>(), 3) + " V";
}

void PrintStatusText(const json& status, std::ostream& out) {
  Line(out, "BIOS", status["bios"]);
  Line(out, "Board model", status["boardModel"]);
  const json& chips = status["chips"];
  Line(out, "North bridge", DeviceText(chips["northBridge"]));
  Line(out, "SMBus host", DeviceText(chips["smbusHost"]));
  Line(out, "Clock generator", DeviceText(chips["clockGenerator"]));
  Line(out, "Overclock controller", DeviceText(chips["overclockController"]));
  Line(out, "GPIO over-voltage", DeviceText(chips["gpioVoltage"]));
  Line(out, "Hardware monitor", DeviceText(chips["hardwareMonitor"]));
  const json& clocks = status["clocks"];
  Line(out, "CPU", MhzText(clocks["cpuMhz"]));
  Line(out, "FSB", MhzText(clocks["fsbMhz"]));
  Line(out, "AGP", MhzText(clocks["agpMhz"]));
  Line(out, "PCI", MhzText(clocks["pciMhz"]));
  Line(out, "Memory", MhzText(clocks["memoryMhz"]));
  Line(out, "Overclock", std::to_string(status["overclockPercent"].get<int>()) + " %");
  Line(out, "Hardware default", MhzText(status["hwDefaultMhz"]));
  Line(out, "Safe clock (SafeFreq)",
       status["safeFreqMhz"].is_null() ? "none" : MhzText(status["safeFreqMhz"]));
  Line(out, "Core voltage", VoltText(status["voltages"]["coreV"]));
  Line(out, "Memory voltage", VoltText(status["voltages"]["memoryV"]));
  Line(out, "Watchdog", status["watchdog"]["running"].get<bool>() ? "armed" : "off");
  Line(out, "InWatch", status["watchdog"]["inWatch"].get<bool>() ? "1" : "0");
}

// --json as the only option, or a complaint.
bool ParseJsonOnly(CommandContext& context, bool& asJson) {
  for (const std::string& arg : context.args) {
    if (arg == "--json") {
      asJson = true;
    } else {
      context.err << "rqctl: unexpected argument " << arg << "\n";
      return false;
    }
  }
  return true;
}

json SensorJson(const engine::SensorReading& reading) {
  const char* quantity = "voltage";
  if (engine::SensorAt(reading.sensor).quantity == engine::SensorQuantity::Temperature)
    quantity = "temperature";
  if (engine::SensorAt(reading.sensor).quantity == engine::SensorQuantity::Fan) quantity = "fan";
  return {{"name", engine::SensorName(reading.sensor)},
          {"value", reading.value},
          {"unit", engine::SensorUnit(reading.sensor)},
          {"quantity", quantity}};
}

std::string SensorValueText(const engine::SensorReading& reading) {
  switch (engine::SensorAt(reading.sensor).quantity) {
    case engine::SensorQuantity::Temperature:
      return (reading.value >= 0 ? "+" : "") + Fixed(reading.value, 1) + " C";
    case engine::SensorQuantity::Fan:
      return Fixed(reading.value, 0) + " RPM";
    case engine::SensorQuantity::Voltage:
      break;
  }
  return (reading.value >= 0 ? "+" : "") + Fixed(reading.value, 2) + " V";
}

void PrintSensors(devices::ISAHwMonitorIo& chip, bool asJson, std::ostream& out) {
  const engine::SensorReadings readings = engine::ReadSensors(chip);
  if (asJson) {
    json sensors = json::array();
    for (const auto& reading : readings) sensors.push_back(SensorJson(reading));
    out << json{{"chip", {{"model", chip.GetModel()}, {"description", chip.GetDescription()}}},
                {"sensors", sensors}}
               .dump()
        << '\n';
    return;
  }
  out << chip.GetModel() << " (" << chip.GetDescription() << ")\nAdapter: ISA adapter\n";
  for (const auto& reading : readings) {
    out << std::left << std::setw(kLabelWidth / 2 + 4) << (engine::SensorName(reading.sensor) + ":")
        << std::right << std::setw(12) << SensorValueText(reading) << '\n';
  }
}

// RFC 4180: a field with a comma, quote or line break goes in quotes, quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string IsoTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string iso = text;
  // +hhmm as +hh:mm, the extended form of the rest.
  if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");
  return iso;
}

std::string CsvHeader(const std::vector<std::size_t>& columns) {
  std::string header = "time";
  for (std::size_t sensor : columns)
    header += ',' + CsvField(engine::SensorName(sensor) + " (" + engine::SensorUnit(sensor) + ")");
  return header + ",FSB (MHz),AGP (MHz),PCI (MHz),Memory (MHz)";
}

// The first line of a file that has one; nothing for a missing or empty file.
std::optional<std::string> FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  if (!file || !std::getline(file, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool EndsWithLineBreak(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file || file.tellg() <= 0) return true;
  file.seekg(-1, std::ios::end);
  char last = 0;
  file.get(last);
  return last == '\n';
}

struct LogOptions {
  double interval = 1.0;
  std::optional<long> count;
  std::string file;
};

bool ParseLogOptions(CommandContext& context, LogOptions& options) {
  const auto& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--interval" || arg == "--count") {
      if (i + 1 >= args.size()) {
        context.err << "rqctl: " << arg << " needs a value\n";
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "--interval") {
        const auto seconds = ParsePositive(value);
        if (!seconds) {
          context.err << "rqctl: --interval takes seconds above 0, not '" << value << "'\n";
          return false;
        }
        options.interval = *seconds;
      } else {
        options.count = ParseCount(value, 1);
        if (!options.count) {
          context.err << "rqctl: --count takes a whole number from 1, not '" << value << "'\n";
          return false;
        }
      }
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      context.err << "rqctl: unknown option " << arg << "\n";
      return false;
    } else if (options.file.empty()) {
      options.file = arg == "-" ? std::string() : arg;
    } else {
      context.err << "rqctl: one file only, not also '" << arg << "'\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int StatusCommand(CommandContext& context) {
  bool asJson = false;
  if (!ParseJsonOnly(context, asJson)) return kExitBadArguments;
  Session session;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err))
    return code;
  engine::MSupport& support = *session.support;
  // After a hang the windowed program restores a safe clock at its start; when it
  // is not there to do so, status does, so it never reports the clock that hung.
  if (support.GetInWatch() && support.clockGenerator != nullptr) {
    bool programRuns = false;
    session.lock = platform::InstanceLock::Create(engine::kInstanceMutexName, programRuns);
    if (session.lock != nullptr) RecoverAfterHang(session, context.environment, context.err);
  }
  const json status =
      StatusJson(support, context.environment.measureCpuMhz ? context.environment.measureCpuMhz()
                                                            : MeasureCpuMhz(session));
  if (asJson) {
    context.out << status.dump(2) << '\n';
  } else {
    PrintStatusText(status, context.out);
  }
  return kExitOk;
}

int SensorsCommand(CommandContext& context) {
  bool asJson = false;
  std::optional<double> watch;
  const auto& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      asJson = true;
    } else if (args[i] == "--watch" && i + 1 < args.size() && (watch = ParsePositive(args[i + 1]))) {
      ++i;
    } else {
      context.err << "rqctl: sensors: unexpected or malformed argument " << args[i]
                  << " (--watch takes seconds above 0)\n";
      return kExitBadArguments;
    }
  }
  Session session;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err,
                                   Detect::AllButClockGenerator))
    return code;
  devices::ISAHwMonitorIo* chip = session.support->hardwareMonitor.get();
  if (chip == nullptr) {
    context.err << "rqctl: no hardware monitor chip was found on this board\n";
    return kExitNoChip;
  }
  const bool clearInPlace = watch && context.environment.stdoutIsTerminal && !asJson;
  for (bool first = true;; first = false) {
    if (clearInPlace) {
      context.out << kAnsiClear;
    } else if (!first && !asJson) {
      context.out << '\n';
    }
    PrintSensors(*chip, asJson, context.out);
    context.out.flush();
    if (!watch || !SleepUnlessStopped(*watch, context.environment)) break;
  }
  return kExitOk;
}

int LogCommand(CommandContext& context) {
  LogOptions options;
  if (!ParseLogOptions(context, options)) return kExitBadArguments;
  Session session;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err))
    return code;
  engine::MSupport& support = *session.support;

  // The columns are the sensors that answer now; one that stops answering later
  // leaves its cell empty rather than shifting the others.
  std::vector<std::size_t> columns;
  if (support.hardwareMonitor != nullptr) {
    for (const auto& reading : engine::ReadSensors(*support.hardwareMonitor))
      columns.push_back(reading.sensor);
  }
  const std::string header = CsvHeader(columns);

  std::ofstream file;
  bool continuing = false;
  if (!options.file.empty()) {
    // A log of the same columns goes on; one of other columns is not spoilt by a
    // second header in its middle.
    const std::optional<std::string> firstLine = FirstLine(options.file);
    if (firstLine && *firstLine != header) {
      context.err << "rqctl: " << options.file << " holds a log of other columns; name another file\n";
      return kExitFailure;
    }
    continuing = firstLine.has_value();
    file.open(options.file, std::ios::app);
    if (!file) {
      context.err << "rqctl: cannot open " << options.file << " for writing\n";
      return kExitFailure;
    }
    // A row cut short by a crash stays on a line of its own.
    if (continuing && !EndsWithLineBreak(options.file)) file << '\n';
  }
  std::ostream& csv = options.file.empty() ? context.out : file;
  if (!continuing) csv << header << '\n' << std::flush;

  for (long row = 0; !options.count || row < *options.count; ++row) {
    if (row > 0 && !SleepUnlessStopped(options.interval, context.environment)) break;
    if (Stopped(context.environment)) break;
    std::vector<std::optional<double>> values(engine::kSensorCount);
    if (support.hardwareMonitor != nullptr) {
      for (const auto& reading : engine::ReadSensors(*support.hardwareMonitor))
        values[reading.sensor] = reading.value;
    }
    support.RefreshClocks();
    csv << IsoTimeNow();
    for (std::size_t sensor : columns) {
      csv << ',';
      if (values[sensor]) csv << *values[sensor];
    }
    csv << ',' << Fixed(support.fsbClock, 2) << ',' << Fixed(support.agpClock, 2) << ','
        << Fixed(support.pciClock, 2) << ',' << Fixed(support.memoryClock, 2) << '\n'
        << std::flush;
    if (!csv) {
      context.err << "rqctl: writing the log failed\n";
      return kExitFailure;
    }
  }
  return kExitOk;
}

}  // namespace rq::cli
