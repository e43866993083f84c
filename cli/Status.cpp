// status, sensors and log: what the system object reads, as text, JSON and CSV.
#include <chrono>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/Commands.h"
#include "cli/OpenMetrics.h"
#include "cli/Output.h"
#include "cli/ReplacedFile.h"
#include "cli/SensorRange.h"
#include "engine/SensorStats.h"
#include "engine/Sensors.h"
#include "hw/I2CIo.h"

namespace rq::cli {
namespace {

using nlohmann::json;

constexpr const char* kAnsiClear = "\x1b[H\x1b[2J";
constexpr auto kStopPoll = std::chrono::milliseconds(50);
constexpr int kLabelWidth = 24;
// How long `log` waits for a reader of a FIFO it was given.
constexpr double kReaderWaitSeconds = 60;

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << (value == 0.0 ? 0.0 : value);
  return text.str();
}

// Sleeps `seconds` (within the interval range, so the count cannot overflow),
// ending early once a stop was asked for; false then.
bool SleepUnlessStopped(double seconds, const Environment& environment) {
  const auto end =
      std::chrono::steady_clock::now() +
      std::chrono::milliseconds(static_cast<std::int64_t>(std::min(seconds, kLongestInterval) * 1000));
  for (;;) {
    if (environment.stop != nullptr && environment.stop->load()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kStopPoll, end - now));
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

// Where the rows come from: the board's monitor chip, or without one the host's own sensors.
json SourceJson(const devices::ISAHwMonitorIo* chip) {
  if (chip == nullptr) return {{"model", "hwmon"}, {"description", "the host's own sensors"}};
  return {{"model", chip->GetModel()}, {"description", chip->GetDescription()}};
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
  return {{"model", HostName(host.kind)},
          {"kind", host.kind},
          {"base", host.base},
          {"kernelAdapter", host.kernelAdapter}};
}

json OptionalNumber(std::optional<double> value) { return value ? json(*value) : json(nullptr); }

json StatusJson(engine::MSupport& support, std::optional<double> cpuMhz) {
  hw::DetectSmbusHost();  // found once by detection already; answers from memory
  const bool voltages = support.HasVoltageDevice();
  // Clocks the clock generator did not answer for are unknown, not computed from
  // registers that never came.
  const bool clocks = support.ClocksRead();
  auto clock = [clocks](double value) { return clocks ? json(value) : json(nullptr); };
  return {
      {"bios", support.biosModel},
      {"boardModel", support.boardModel},
      {"chips",
       {{"northBridge", DeviceJson(support.northBridge.get())},
        {"smbusHost", SmbusHostJson()},
        {"clockGenerator", DeviceJson(support.clockGenerator.get())},
        {"overclockController", DeviceJson(support.overclockController.get())},
        {"gpioVoltage", DeviceJson(support.gpioVoltage.get())},
        {"hardwareMonitor",
         support.HasSensors() ? SourceJson(support.hardwareMonitor.get()) : json(nullptr)}}},
      {"clocks",
       {{"cpuMhz", OptionalNumber(cpuMhz)},
        {"fsbMhz", clock(support.fsbClock.load())},
        {"agpMhz", clock(support.agpClock.load())},
        {"pciMhz", clock(support.pciClock.load())},
        {"memoryMhz", clock(support.memoryClock.load())}}},
      {"overclockPercent", clocks ? json(support.GetOverclockPercent()) : json(nullptr)},
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
  if (device.value("kernelAdapter", false)) text << ", through the kernel's adapter";
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
  Line(out, "Overclock",
       status["overclockPercent"].is_null() ? "unknown"
                                            : std::to_string(status["overclockPercent"].get<int>()) + " %");
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

enum class SensorFormat { Text, Json, OpenMetrics };

json SensorJson(const engine::SensorReading& reading, const engine::SensorStats& stats) {
  const char* quantity = "voltage";
  if (engine::QuantityOf(reading.sensor) == engine::SensorQuantity::Temperature) quantity = "temperature";
  if (engine::QuantityOf(reading.sensor) == engine::SensorQuantity::Fan) quantity = "fan";
  json sensor = {{"name", engine::SensorName(reading.sensor)},
                 {"value", reading.value},
                 {"unit", engine::SensorUnit(reading.sensor)},
                 {"quantity", quantity}};
  if (const auto range = stats.RangeOf(reading.sensor)) sensor.update(RangeJson(*range));
  // Host sensors of several drivers may share a label ("Core 0", "temp1").
  if (const std::string driver = engine::SensorDriver(reading.sensor); !driver.empty())
    sensor["driver"] = driver;
  return sensor;
}

std::optional<SensorFormat> ParseSensorFormat(const std::string& name) {
  static const std::map<std::string, SensorFormat> kFormats = {
      {"text", SensorFormat::Text}, {"json", SensorFormat::Json}, {"openmetrics", SensorFormat::OpenMetrics}};
  const auto found = kFormats.find(name);
  return found == kFormats.end() ? std::nullopt : std::optional(found->second);
}

std::string SensorValueText(const engine::SensorReading& reading) {
  switch (engine::QuantityOf(reading.sensor)) {
    case engine::SensorQuantity::Temperature:
      return (reading.value >= 0 ? "+" : "") + Fixed(reading.value, 1) + " C";
    case engine::SensorQuantity::Fan:
      return Fixed(reading.value, 0) + " RPM";
    case engine::SensorQuantity::Voltage:
      break;
  }
  return (reading.value >= 0 ? "+" : "") + Fixed(reading.value, 2) + " V";
}

// The lowest and highest values since the start follow each text row in a watch,
// where they tell something; JSON always carries them.
std::string SensorsText(const devices::ISAHwMonitorIo* chip, const engine::SensorReadings& readings,
                        SensorFormat format, const engine::SensorStats& stats, bool withRange) {
  if (format == SensorFormat::OpenMetrics)
    return ExpositionText(MetricRows(chip != nullptr ? chip->GetModel() : "hwmon", readings));
  std::ostringstream out;
  const json source = SourceJson(chip);
  if (format == SensorFormat::Json) {
    json sensors = json::array();
    for (const auto& reading : readings) sensors.push_back(SensorJson(reading, stats));
    // A label of another encoding than UTF-8 is shown with U+FFFD, as the window
    // shows it, rather than ending rqctl.
    out << json{{"chip", source}, {"sensors", sensors}}.dump(-1, ' ', false, json::error_handler_t::replace)
        << '\n';
    return out.str();
  }
  out << source["model"].get<std::string>() << " (" << source["description"].get<std::string>()
      << ")\nAdapter: " << (chip != nullptr ? chip->Adapter() : "kernel hwmon") << '\n';
  for (const auto& reading : readings) {
    out << std::left << std::setw(kLabelWidth / 2 + 4) << (engine::SensorName(reading.sensor) + ":")
        << std::right << std::setw(12) << SensorValueText(reading);
    const auto range = stats.RangeOf(reading.sensor);
    if (withRange && range) {
      out << "  "
          << RangeText(*range, SensorValueText({reading.sensor, range->lowest.value}),
                       SensorValueText({reading.sensor, range->highest.value}),
                       std::chrono::system_clock::now());
    }
    out << '\n';
  }
  return out.str();
}

// Standard output as `log` and `sensors` write it: the descriptor when the program
// has one, else the stream.
std::unique_ptr<Output> StandardOutput(const CommandContext& context) {
  if (context.environment.outFd >= 0)
    return std::make_unique<Output>(context.environment.outFd, "standard output", false);
  return std::make_unique<Output>(context.out, "standard output");
}

// Writes `text`; false when the command is to end: kExitOk after a stop, kExitFailure
// (said on `err`, naming the output) when the output refused it.
bool WriteOrEnd(Output& output, const std::string& text, const CommandContext& context, int& code) {
  switch (output.Write(text, context.environment.stop)) {
    case WriteResult::Written:
      return true;
    case WriteResult::Stopped:
      code = kExitOk;
      return false;
    case WriteResult::Failed:
      break;
  }
  context.err << "rqctl: writing to " << output.Name() << " failed: " << output.Error() << "\n";
  code = kExitFailure;
  return false;
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

std::string IsoTimeNow() { return IsoTime(std::chrono::system_clock::now()); }

std::string CsvHeader(const std::vector<std::size_t>& columns) {
  std::string header = "time";
  for (std::size_t sensor : columns)
    header += ',' + CsvField(engine::SensorName(sensor) + " (" + engine::SensorUnit(sensor) + ")");
  return header + ",FSB (MHz),AGP (MHz),PCI (MHz),Memory (MHz)";
}

struct LogOptions {
  double interval = 1.0;
  std::optional<long> count;
  std::string file;
  bool fileNamed = false;  // `-` names standard output
  std::string textfile;
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
        const auto seconds = ParseInterval(arg, value, context.err);
        if (!seconds) return false;
        options.interval = *seconds;
      } else {
        options.count = ParseCount(value, 1);
        if (!options.count) {
          context.err << "rqctl: --count takes a whole number from 1, not '" << value << "'\n";
          return false;
        }
      }
    } else if (arg == "--openmetrics-textfile") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        context.err << "rqctl: " << arg << " needs a file name\n";
        return false;
      }
      options.textfile = args[++i];
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      context.err << "rqctl: unknown option " << arg << "\n";
      return false;
    } else if (!options.fileNamed) {
      options.fileNamed = true;
      options.file = arg == "-" ? std::string() : arg;
    } else {
      context.err << "rqctl: one file only, not also '" << arg << "'\n";
      return false;
    }
  }
  // Each replacement would take the log's file away from under its rows.
  if (!options.textfile.empty() && options.textfile == options.file) {
    context.err << "rqctl: the CSV log and the textfile cannot be one file (" << options.file << ")\n";
    return false;
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
  // Whatever was read after the driver stopped answering (chips, clocks, voltages)
  // cannot be told from what was not: no status is shown rather than a wrong one.
  const std::string nothingShown = "no status is shown";
  if (DriverStopped(support, nothingShown, context.err)) return kExitNoDaemon;
  // After a hang the windowed program restores a safe clock at its start; when it
  // is not there to do so, status does, so it never reports the clock that hung.
  if (support.GetInWatch() && support.clockGenerator != nullptr) {
    bool programRuns = false;
    session.locks = engine::TakeInstanceLocks(context.settingsFile, programRuns);
    if (session.locks.Held()) RecoverAfterHang(session, context.environment, context.err);
  }
  const json status =
      StatusJson(support, context.environment.measureCpuMhz ? context.environment.measureCpuMhz()
                                                            : MeasureCpuMhz(session));
  if (DriverStopped(support, nothingShown, context.err)) return kExitNoDaemon;
  if (asJson) {
    context.out << status.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
  } else {
    PrintStatusText(status, context.out);
  }
  if (support.ClocksRead()) return kExitOk;
  context.err << "rqctl: the clock generator's registers could not be read: the clocks are unknown\n";
  return kExitFailure;
}

int SensorsCommand(CommandContext& context) {
  std::optional<SensorFormat> format;
  std::optional<double> watch;
  const auto& args = context.args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json" || (args[i] == "--format" && i + 1 < args.size())) {
      const std::optional<SensorFormat> chosen = ParseSensorFormat(args[i] == "--json" ? "json" : args[++i]);
      if (!chosen || (format && *format != *chosen)) {
        context.err << "rqctl: sensors: --format takes one of text, json or openmetrics (--json is json)\n";
        return kExitBadArguments;
      }
      format = chosen;
    } else if (args[i] == "--watch" && i + 1 < args.size()) {
      watch = ParseInterval(args[i], args[i + 1], context.err);
      if (!watch) return kExitBadArguments;
      ++i;
    } else {
      context.err << "rqctl: sensors: unexpected or malformed argument " << args[i]
                  << " (--watch takes seconds, --format a format)\n";
      return kExitBadArguments;
    }
  }
  if (context.environment.endOnStop) context.environment.endOnStop();
  Session session;
  std::ostringstream noDaemon;
  if (const int code =
          OpenSession(session, context.settingsFile, context.environment, noDaemon, Detect::HostSensors)) {
    // The host's own sensors need no daemon; only the board's chips do.
    context.err << noDaemon.str();
    if (code != kExitNoDaemon || session.support == nullptr || !engine::HostSensorsInUse()) return code;
    context.err << "rqctl: sensors: without it the board's monitor chip is not looked for; the host's own "
                   "sensors follow\n";
  }
  const bool withDriver = session.support->DriverReady();
  const std::string notShown = "the sensors it did not answer for are not shown";
  if (withDriver && DriverStopped(*session.support, notShown, context.err)) return kExitNoDaemon;
  devices::ISAHwMonitorIo* chip = session.support->hardwareMonitor.get();
  if (chip == nullptr && !engine::HostSensorsInUse()) {
    context.err
        << "rqctl: no hardware monitor chip was found on this board, and the kernel lists no sensors\n";
    return kExitNoChip;
  }
  const std::unique_ptr<Output> output = StandardOutput(context);
  const bool asText = format.value_or(SensorFormat::Text) == SensorFormat::Text;
  const bool clearInPlace = watch && context.environment.stdoutIsTerminal && asText;
  engine::SensorStats stats;
  int code = kExitOk;
  for (bool first = true;; first = false) {
    const engine::SensorReadings readings = engine::ReadSensors(chip);
    // A block the driver stopped answering in would lack rows it cannot explain.
    if (withDriver && DriverStopped(*session.support, notShown, context.err)) return kExitNoDaemon;
    stats.Add(readings, std::chrono::system_clock::now());
    std::string block = clearInPlace ? kAnsiClear : (!first && asText ? "\n" : "");
    block += SensorsText(chip, readings, format.value_or(SensorFormat::Text), stats, watch.has_value());
    if (!WriteOrEnd(*output, block, context, code)) return code;
    if (!watch || !SleepUnlessStopped(*watch, context.environment)) break;
  }
  return code;
}

int LogCommand(CommandContext& context) {
  LogOptions options;
  if (!ParseLogOptions(context, options)) return kExitBadArguments;
  // A textfile that cannot be replaced is said before the board is asked anything.
  std::unique_ptr<ReplacedFile> textfile;
  if (!options.textfile.empty() && !(textfile = ReplacedFile::Open(options.textfile, context.err)))
    return kExitFailure;
  if (context.environment.endOnStop) context.environment.endOnStop();
  Session session;
  if (const int code = OpenSession(session, context.settingsFile, context.environment, context.err))
    return code;
  engine::MSupport& support = *session.support;
  const std::string rowNotWritten = "the row it did not answer for is not written";
  if (DriverStopped(support, "no log was written", context.err)) return kExitNoDaemon;

  // The columns are the sensors that answer now; one that stops answering later
  // leaves its cell empty rather than shifting the others.
  std::vector<std::size_t> columns;
  for (const auto& reading : engine::ReadSensors(support.hardwareMonitor.get()))
    columns.push_back(reading.sensor);
  const std::string header = CsvHeader(columns);

  std::unique_ptr<Output> output;
  std::string start = header + '\n';
  // A textfile's log writes rows only where it is told to, standard output too.
  if (textfile && !options.fileNamed) {
    start.clear();
  } else if (options.file.empty()) {
    output = StandardOutput(context);
  } else {
    std::optional<LogFile> file =
        OpenLogFile(options.file, context.environment.stop, kReaderWaitSeconds, context.err);
    if (!file) return Stopped(context.environment) ? kExitOk : kExitFailure;
    // A log of the same columns goes on; one of other columns is not spoilt by a
    // second header in its middle.
    if (file->existingFirstLine && *file->existingFirstLine != header) {
      context.err << "rqctl: " << options.file << " holds a log of other columns; name another file\n";
      return kExitFailure;
    }
    // A row cut short by a crash stays on a line of its own.
    if (file->existingFirstLine) start = file->endsWithLineBreak ? "" : "\n";
    output = std::move(file->output);
  }
  int code = kExitOk;
  if (!start.empty() && !WriteOrEnd(*output, start, context, code)) return code;

  for (long row = 0; !options.count || row < *options.count; ++row) {
    if (row > 0 && !SleepUnlessStopped(options.interval, context.environment)) break;
    if (Stopped(context.environment)) break;
    std::vector<std::optional<double>> values(engine::SensorSlots());
    const engine::SensorReadings readings = engine::ReadSensors(support.hardwareMonitor.get());
    for (const auto& reading : readings) values[reading.sensor] = reading.value;
    const bool clocksRead = support.RefreshClocks();
    if (DriverStopped(support, rowNotWritten, context.err)) return kExitNoDaemon;
    std::ostringstream line;
    line << IsoTimeNow();
    for (std::size_t sensor : columns) {
      line << ',';
      if (values[sensor]) line << *values[sensor];
    }
    // Clocks that could not be read leave their cells empty, as a sensor does.
    for (double clock : {support.fsbClock.load(), support.agpClock.load(), support.pciClock.load(),
                         support.memoryClock.load()}) {
      line << ',';
      if (clocksRead) line << Fixed(clock, 2);
    }
    line << '\n';
    if (output && !WriteOrEnd(*output, line.str(), context, code)) return code;
    // A sensor that stopped answering leaves the file, rather than its last value
    // staying there as if read now.
    const std::string chipModel = support.hardwareMonitor ? support.hardwareMonitor->GetModel() : "hwmon";
    if (textfile && !textfile->Replace(ExpositionText(MetricRows(chipModel, readings)))) {
      context.err << "rqctl: writing to " << options.textfile << " failed: " << textfile->Error() << "\n";
      return kExitFailure;
    }
  }
  return code;
}

}  // namespace rq::cli
