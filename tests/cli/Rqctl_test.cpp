// rqctl against virtual boards in this process: the JSON a script reads, the CSV
// log, the dump's bytes and the refusals with their exit codes.
#include "cli/Rqctl.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/OpenMetrics.h"
#include "driver/VirtualBoardBackend.h"
#include "engine/BoardSections.h"
#include "engine/MSupport.h"
#include "hw/SmbusHost.h"
#include "platform/InstanceLock.h"
#include "platform/ProfileFile.h"
#include "protocol/Protocol.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"
#include "support/DaemonProcess.h"
#include "support/FakeHwmon.h"
#include "support/InProcessDriverHandle.h"
#include "support/TempDir.h"

namespace rq::cli {
namespace {

using nlohmann::json;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class RqctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(folder_ / "run");
    std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
    setenv("RQ_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
    setenv("RQ_SYSFS_ROOT", (folder_ / "sys").c_str(), 1);  // a host without sensors of its own
  }
  // The hosts' waits pass at once: detection probes without real time.
  hw::VirtualSmbusClock smbusClock_;
  hw::ScopedSmbusClock scopedClock_{smbusClock_};
  void TearDown() override {
    unsetenv("RQ_RUNTIME_DIR");
    unsetenv("RQ_SYSFS_ROOT");
  }
  void UseHostSensors(const std::string& machine) {
    std::filesystem::remove_all(folder_ / "sys");
    test::WriteTree(folder_ / "sys", test::HwmonFile(machine + ".tree"));
  }

  void UseBoard(const std::string& name) { board_ = sim::Board::Shipped(name, time_); }
  std::string Settings() const { return folder_ / "torvane.ini"; }

  Result Run(std::vector<std::string> args) {
    Environment environment;
    sim::Board* board = board_.get();
    environment.openDriver = [this, board]() -> std::unique_ptr<hw::DriverHandle> {
      if (board == nullptr) return nullptr;
      if (kernelAdapter_ != nullptr) return std::make_unique<HostPortCounter>(*kernelAdapter_, hostPortAccesses_);
      return std::make_unique<driver::InProcessDriverHandle>(*board);
    };
    environment.measureCpuMhz = [] { return std::optional<double>(); };
    environment.stop = &stop_;
    args.insert(args.begin(), {"--settings", Settings()});
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::Run(args, environment, out, err);
    return {code, out.str(), err.str()};
  }
  double BoardFsb() {
    auto lock = board_->Lock();
    return board_->Processor().Fsb();
  }

  // Counts the requests that touch the default board's SMBus host ports (0x400-0x41F).
  class HostPortCounter final : public hw::DriverHandle {
   public:
    HostPortCounter(driver::Backend& backend, int& count) : board_(backend), count_(count) {}
    bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override {
      if ((code == protocol::kIoctlReadPortByte || code == protocol::kIoctlWritePortByte) &&
          (protocol::LoadU32(buffer, protocol::port_request::kPort) & ~0x1Fu) == 0x400)
        ++count_;
      return board_.DeviceIoControl(code, buffer, length);
    }

   private:
    driver::InProcessDriverHandle board_;
    int& count_;
  };
  // Set: the driver reaches the SMBus through this kernel-adapter backend of the board.
  driver::Backend* kernelAdapter_ = nullptr;
  int hostPortAccesses_ = 0;

  std::atomic<bool> stop_{false};
  test::TempDir folder_;  // the settings file and the single-instance lock
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
};

// --- status --json: every field present and of its type, on every shipped board ----

enum class Kind { String, Number, Integer, Boolean, Object, NumberOrNull, DeviceOrNull };

bool HasKind(const json& value, Kind kind) {
  switch (kind) {
    case Kind::String:
      return value.is_string();
    case Kind::Number:
      return value.is_number();
    case Kind::Integer:
      return value.is_number_integer();
    case Kind::Boolean:
      return value.is_boolean();
    case Kind::Object:
      return value.is_object();
    case Kind::NumberOrNull:
      return value.is_number() || value.is_null();
    case Kind::DeviceOrNull:
      return value.is_null() || (value.is_object() && value.contains("model") && value["model"].is_string());
  }
  return false;
}

class StatusSchemaTest : public RqctlTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(StatusSchemaTest, EveryFieldIsPresentAndTyped) {
  UseBoard(GetParam());
  const Result result = Run({"status", "--json"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  const json status = json::parse(result.out);
  const std::vector<std::pair<json::json_pointer, Kind>> fields = {
      {json::json_pointer("/bios"), Kind::String},
      {json::json_pointer("/boardModel"), Kind::String},
      {json::json_pointer("/chips/northBridge"), Kind::DeviceOrNull},
      {json::json_pointer("/chips/smbusHost"), Kind::DeviceOrNull},
      {json::json_pointer("/chips/clockGenerator"), Kind::DeviceOrNull},
      {json::json_pointer("/chips/overclockController"), Kind::DeviceOrNull},
      {json::json_pointer("/chips/gpioVoltage"), Kind::DeviceOrNull},
      {json::json_pointer("/chips/hardwareMonitor"), Kind::DeviceOrNull},
      {json::json_pointer("/clocks/cpuMhz"), Kind::NumberOrNull},
      {json::json_pointer("/clocks/fsbMhz"), Kind::Number},
      {json::json_pointer("/clocks/agpMhz"), Kind::Number},
      {json::json_pointer("/clocks/pciMhz"), Kind::Number},
      {json::json_pointer("/clocks/memoryMhz"), Kind::Number},
      {json::json_pointer("/overclockPercent"), Kind::Integer},
      {json::json_pointer("/hwDefaultMhz"), Kind::Number},
      {json::json_pointer("/safeFreqMhz"), Kind::NumberOrNull},
      {json::json_pointer("/voltages/coreV"), Kind::NumberOrNull},
      {json::json_pointer("/voltages/memoryV"), Kind::NumberOrNull},
      {json::json_pointer("/watchdog/running"), Kind::Boolean},
      {json::json_pointer("/watchdog/inWatch"), Kind::Boolean},
      {json::json_pointer("/settingsFile"), Kind::String},
  };
  for (const auto& [pointer, kind] : fields) {
    ASSERT_TRUE(status.contains(pointer)) << pointer.to_string() << " missing on " << GetParam();
    EXPECT_TRUE(HasKind(status.at(pointer), kind)) << pointer.to_string() << " = " << status.at(pointer);
  }
  EXPECT_FALSE(status["bios"].get<std::string>().empty());
  EXPECT_FALSE(status["chips"]["northBridge"].is_null()) << "every shipped board has a north bridge";
  // A look changes nothing: not even the settings file is created.
  EXPECT_FALSE(std::filesystem::exists(Settings()));
}

INSTANTIATE_TEST_SUITE_P(Shipped, StatusSchemaTest, ::testing::ValuesIn(sim::Board::ShippedNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// --- log ----------------------------------------------------------------------------

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream stream(line);
  std::string cell;
  while (std::getline(stream, cell, ',')) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

TEST_F(RqctlTest, LogWritesAHeaderWithUnitsAndOneRowPerCountThatAgreesWithTheBoard) {
  UseBoard("default");
  const std::string file = folder_ / "log.csv";
  const Result result = Run({"log", "--interval", "0.01", "--count", "3", file});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  EXPECT_TRUE(result.out.empty());
  std::ifstream csv(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(csv, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0],
            "time,System Temp (C),CPU Temp (C),CPU Fan (RPM),System Fan (RPM),VCore (V),VDIMM (V),3.3V (V),"
            "5V (V),12V (V),-12V (V),VBAT (V),5VSB (V),FSB (MHz),AGP (MHz),PCI (MHz),Memory (MHz)");

  json analog;
  {
    auto lock = board_->Lock();
    analog = board_->Inspect()["analog"];
  }
  ASSERT_TRUE(analog.is_object()) << board_->Inspect().dump();
  // What each column must show, and how far the chip's rounding may take it: whole
  // degrees, fan counts of a divisor, the 16 mV ADC step behind each divider.
  const std::vector<std::pair<double, double>> expected = {
      {analog["boardTempC"].get<double>(), 1.0},
      {analog["cpuTempC"].get<double>(), 1.0},
      {analog["fanRpm"]["cpu"].get<double>(), 120.0},
      {analog["fanRpm"]["system"].get<double>(), 60.0},
      {analog["volts"]["vcore"].get<double>(), 0.02},
      {analog["volts"]["vmem"].get<double>(), 0.02},
      {analog["volts"]["v33"].get<double>(), 0.02},
      {analog["volts"]["v5"].get<double>(), 0.05},
      {analog["volts"]["v12"].get<double>(), 0.12},
      {analog["volts"]["vn12"].get<double>(), 0.15},
      {analog["volts"]["vbat"].get<double>(), 0.02},
      {analog["volts"]["5vsb"].get<double>(), 0.05},
      {133.3, 0.01},
  };
  for (std::size_t row = 1; row < lines.size(); ++row) {
    const std::vector<std::string> cells = SplitCsv(lines[row]);
    ASSERT_EQ(cells.size(), 17U) << lines[row];
    // 2026-12-09T05:07:38+00:00
    EXPECT_EQ(cells[0].size(), 25U) << cells[0];
    EXPECT_EQ(cells[0][10], 'T') << cells[0];
    for (std::size_t column = 0; column < expected.size(); ++column) {
      EXPECT_NEAR(std::stod(cells[column + 1]), expected[column].first, expected[column].second)
          << "column " << column + 1 << " of " << lines[row];
    }
  }
}

TEST_F(RqctlTest, LogGoesOnInALogOfTheSameColumnsAndLeavesAnotherAlone) {
  UseBoard("default");
  const std::string file = folder_ / "log.csv";
  ASSERT_EQ(Run({"log", "--count", "1", file}).code, kExitOk);
  {
    // A row cut short by a crash.
    std::ofstream cut(file, std::ios::app);
    cut << "2026-12-09T05:07:38+00:00,34,4";
  }
  ASSERT_EQ(Run({"log", "--count", "1", file}).code, kExitOk);
  std::ifstream csv(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(csv, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0].rfind("time,", 0), 0U);
  EXPECT_EQ(lines[2], "2026-12-09T05:07:38+00:00,34,4");
  EXPECT_EQ(SplitCsv(lines[3]).size(), 17U);

  const std::string other = folder_ / "other.csv";
  {
    std::ofstream foreign(other);
    foreign << "when,what\n1,2\n";
  }
  const Result refused = Run({"log", "--count", "1", other});
  EXPECT_EQ(refused.code, kExitFailure);
  std::ifstream kept(other);
  std::ostringstream text;
  text << kept.rdbuf();
  EXPECT_EQ(text.str(), "when,what\n1,2\n");
}

// --- sensors: the exposition a scrape reads, and the watch's lowest and highest -------

// The samples as the client library's parsers of both formats read them back.
json ParsedExposition(const std::string& text, const std::string& file) {
  std::ofstream(file) << text;
  const std::string script = std::string(RQ_CLI_TESTS_DIR) + "/parse_exposition.py";
  FILE* parser = ::popen(("/usr/bin/python3 " + script + " " + file).c_str(), "r");
  std::string out(1 << 16, '\0');
  out.resize(std::fread(out.data(), 1, out.size(), parser));
  return ::pclose(parser) == 0 ? json::parse(out) : json();
}

TEST_F(RqctlTest, SensorsInTheExpositionFormatParseBackWithEveryLabelIntact) {
  UseBoard("default");
  const Result result = Run({"sensors", "--format", "openmetrics"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  const json samples = ParsedExposition(result.out, folder_ / "board.prom");
  ASSERT_EQ(samples.size(), 24U) << result.out;
  EXPECT_EQ(samples[1],
            json::parse(R"(["rhomboquest_hwmon_temp_celsius",{"chip":"W83627HF","sensor":"temp2"},49])"));
  EXPECT_EQ(samples[2],
            json::parse(R"(["rhomboquest_hwmon_fan_rpm",{"chip":"W83627HF","sensor":"fan1"},3668])"));
  EXPECT_EQ(samples[11][1], json::parse(R"({"chip":"W83627HF","sensor":"in8"})"));
  EXPECT_EQ(samples[13][1], json::parse(R"({"chip":"W83627HF","sensor":"temp2","label":"CPU Temp"})"));

  // What a user's labels may hold; a sensor given twice is given once.
  using engine::SensorQuantity;
  const json odd = ParsedExposition(ExpositionText({{SensorQuantity::Fan, "a \"b\"", "fan3", "c\\d\ne", -1.5},
                                                    {SensorQuantity::Fan, "a \"b\"", "fan3", "again", 3}}),
                                    folder_ / "odd.prom");
  EXPECT_EQ(odd, json::parse(R"([["rhomboquest_hwmon_fan_rpm",{"chip":"a \"b\"","sensor":"fan3"},-1.5],
    ["rhomboquest_hwmon_sensor_label",{"chip":"a \"b\"","sensor":"fan3","label":"c\\d\ne"},1]])"));
}

// A label from a settings file of another encoding (Latin-1 "°", a cut-off
// sequence, a UTF-8 "é" that stays) ends neither format: U+FFFD as the window shows.
TEST_F(RqctlTest, ALabelThatIsNotUtf8IsShownWithReplacementCharacters) {
  UseBoard("default");
  ASSERT_TRUE(engine::InstallBoardSection("ZR865", Settings()));
  ASSERT_TRUE(platform::WritePrivateProfileString("ZR865", "TempSensor2Label", "CPU\xB0 \xC3\xA9 \xE2\x82",
                                                  Settings()));
  const Result asJson = Run({"sensors", "--json"});
  ASSERT_EQ(asJson.code, kExitOk) << asJson.err;
  EXPECT_EQ(json::parse(asJson.out)["sensors"][1]["name"], "CPU\uFFFD \u00E9 \uFFFD");
  const json samples =
      ParsedExposition(Run({"sensors", "--format", "openmetrics"}).out, folder_ / "odd.prom");
  ASSERT_EQ(samples.size(), 24U);
  EXPECT_EQ(samples[13][1]["label"], "CPU\uFFFD \u00E9 \uFFFD");
}

TEST_F(RqctlTest, SensorsWatchShowsTheLowestAndHighestAndWhen) {
  UseBoard("default");
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop_ = true;
  });
  const Result watched = Run({"sensors", "--watch", "0.05"});
  stopper.join();
  ASSERT_EQ(watched.code, kExitOk) << watched.err;
  const std::regex row(
      R"(\nCPU Temp: +\+49\.0 C  min \+49\.0 C at \d\d:\d\d:\d\d, max \+49\.0 C at \d\d:\d\d:\d\d\n)");
  EXPECT_TRUE(std::regex_search(watched.out, row)) << watched.out;
  stop_ = false;
  const json cpu = json::parse(Run({"sensors", "--json"}).out)["sensors"][1];
  EXPECT_EQ(cpu["min"]["value"], 49.0);
  EXPECT_EQ(cpu["max"]["time"].get<std::string>().size(), 25U) << cpu;
}

// --- dump ---------------------------------------------------------------------------

TEST_F(RqctlTest, DumpShowsTheBoardsRegistersAndPutsTheMonitorBankBack) {
  UseBoard("default");
  constexpr std::uint16_t kIndex = 0x295;
  constexpr std::uint16_t kData = 0x296;
  constexpr std::uint8_t kBankSelect = 0x4E;
  const Result result = Run({"dump", "--json"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  const json dump = json::parse(result.out);

  // The ICS950218 as the board starts: bytes 7, 8 and 0x0B/0x0C of its PLL set-up.
  const json& clock = dump["clockGenerator"]["bytes"];
  ASSERT_GE(clock.size(), 0x11U);
  EXPECT_EQ(clock[0x01], 0x1F);
  EXPECT_EQ(clock[0x07], 0x28);
  EXPECT_EQ(clock[0x08], 0x17);
  EXPECT_EQ(clock[0x0B], 0x0B);
  EXPECT_EQ(clock[0x10], 0x44);
  // North bridge 8086:2570 at 0:0.0.
  const json& bridge = dump["northBridge"]["bytes"];
  ASSERT_EQ(bridge.size(), 256U);
  EXPECT_EQ(bridge[0], 0x86);
  EXPECT_EQ(bridge[1], 0x80);
  EXPECT_EQ(bridge[2], 0x70);
  EXPECT_EQ(bridge[3], 0x25);
  // ICH5 host at 0x0400, 32 ports.
  EXPECT_EQ(dump["smbusHost"]["base"], 0x400);
  EXPECT_EQ(dump["smbusHost"]["bytes"].size(), 32U);
  // The Winbond monitor: five banks, its chip ID 0x21 at 0x58 of bank 0.
  const json& banks = dump["hardwareMonitor"]["banks"];
  ASSERT_EQ(banks.size(), 5U);
  EXPECT_EQ(banks[0]["bank"], 0);
  EXPECT_EQ(banks[0]["bytes"][0x58], 0x21);
  std::uint8_t select = 0;
  {
    auto lock = board_->Lock();
    board_->Ports().Out(kIndex, kBankSelect);
    select = board_->Ports().In(kData);
  }
  // Detection leaves bank 0 selected (the vendor ID's low byte); the dump ends in
  // bank 5 and must put the select back.
  EXPECT_EQ(select, 0x00) << "bank select not restored";

  const Result text = Run({"dump"});
  ASSERT_EQ(text.code, kExitOk);
  EXPECT_NE(text.out.find("00: 86 80 70 25 "), std::string::npos) << text.out;
}

// A host the kernel's driver drives is left to it: no port of it is read, for the dump or
// for anything before it, and the clock generator is read through the adapter.
TEST_F(RqctlTest, DumpLeavesAHostTheKernelDrivesUnread) {
  UseBoard("default");
  driver::VirtualBoardBackend adapter(*board_, driver::VirtualBoardBackend::WhenHung::Fail, true);
  kernelAdapter_ = &adapter;
  const Result result = Run({"dump", "--json"});
  ASSERT_EQ(result.code, kExitOk) << result.err;
  const json dump = json::parse(result.out);
  EXPECT_EQ(dump["clockGenerator"]["bytes"][0x07], 0x28);
  EXPECT_EQ(dump["smbusHost"]["kernelAdapter"], true);
  EXPECT_TRUE(dump["smbusHost"]["bytes"].is_null());
  EXPECT_EQ(hostPortAccesses_, 0);
  const Result text = Run({"dump"});
  EXPECT_NE(text.out.find("SMBus host at 0x400: driven by the kernel's driver"), std::string::npos) << text.out;
  EXPECT_EQ(hostPortAccesses_, 0);
}

// A GPIO board: the VT8235's inputs and output latches at 0x0800 + 0x48..0x4F as the
// board starts (core lines at level 3 through the inverters, memory pins at 0).
TEST_F(RqctlTest, DumpShowsTheGpioRegistersAroundTheLevelPins) {
  UseBoard("via-kt400");
  const auto start = std::chrono::steady_clock::now();
  const Result result = Run({"dump", "--json"});
  // A look changes no supply: the core reading skips the 2 s settle wait.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  ASSERT_EQ(result.code, kExitOk) << result.err;
  const json gpio = json::parse(result.out)["gpioVoltage"];
  EXPECT_EQ(gpio["model"], "VIA VT8235");
  EXPECT_EQ(gpio["base"], 0x800);
  EXPECT_EQ(gpio["first"], 0x40);
  ASSERT_EQ(gpio["bytes"].size(), 16U);
  EXPECT_EQ(gpio["bytes"][0x0A], 0x05);
  EXPECT_EQ(gpio["bytes"][0x0B], 0xB1);
  EXPECT_EQ(gpio["bytes"][0x0E], 0x05);
  EXPECT_EQ(gpio["bytes"][0x0F], 0x01);

  const Result text = Run({"dump"});
  ASSERT_EQ(text.code, kExitOk);
  EXPECT_NE(text.out.find("GPIO registers at 0x800"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\n40: "), std::string::npos) << text.out;
}

// --- refusals and exit codes ---------------------------------------------------------

TEST_F(RqctlTest, RefusalsAnswerTheirExitCodesAndLeaveTheClockAlone) {
  struct Case {
    const char* what;
    const char* board;  // null: no daemon
    std::vector<std::string> args;
    bool holdProgramLock;
    int code;
  };
  const std::vector<Case> cases = {
      {"daemon absent", nullptr, {"status"}, false, kExitNoDaemon},
      {"daemon absent, clock change", nullptr, {"fsb", "set", "140"}, false, kExitNoDaemon},
      {"windowed program runs", "default", {"fsb", "set", "140"}, true, kExitRefused},
      {"windowed program runs, reset", "default", {"fsb", "reset"}, true, kExitRefused},
      {"no clock generator", "nforce2", {"fsb", "set", "140"}, false, kExitNoChip},
      {"above the chip's fastest clock", "default", {"fsb", "set", "400"}, false, kExitRefused},
      {"below half the default", "default", {"fsb", "set", "13.3"}, false, kExitRefused},
      {"not a number", "default", {"fsb", "set", "fast"}, false, kExitBadArguments},
      {"negative", "default", {"fsb", "set", "-140"}, false, kExitBadArguments},
      {"unknown command", "default", {"overclock"}, false, kExitBadArguments},
      {"zero rows", "default", {"log", "--count", "0"}, false, kExitBadArguments},
      {"daemon absent, no host sensors", nullptr, {"sensors"}, false, kExitNoDaemon},
      {"no monitor chip", "cg-ics9428", {"sensors"}, false, kExitNoChip},
      {"no monitor chip, exposition",
       "cg-ics9428",
       {"sensors", "--format", "openmetrics"},
       false,
       kExitNoChip},
      {"two formats", "default", {"sensors", "--json", "--format", "openmetrics"}, false, kExitBadArguments},
      {"no such format", "default", {"sensors", "--format", "xml"}, false, kExitBadArguments},
      {"log and textfile one file",
       "default",
       {"log", "x", "--openmetrics-textfile", "x"},
       false,
       kExitBadArguments},
      {"textfile in no folder",
       "default",
       {"log", "--openmetrics-textfile", "/dev/null/x"},
       false,
       kExitFailure},
      {"textfile a folder", "default", {"log", "--openmetrics-textfile", "/tmp/"}, false, kExitFailure},
      {"textfile a device", "default", {"log", "--openmetrics-textfile", "/dev/null"}, false, kExitFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    board_.reset();
    if (c.board != nullptr) UseBoard(c.board);
    const double before = board_ ? BoardFsb() : 0.0;
    std::unique_ptr<platform::InstanceLock> program;
    if (c.holdProgramLock) {
      bool exists = false;
      program = platform::InstanceLock::Create(engine::kInstanceMutexName, exists);
      ASSERT_NE(program, nullptr);
    }
    const Result result = Run(c.args);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_FALSE(result.err.empty()) << "a refusal says why";
    if (board_) {
      EXPECT_EQ(BoardFsb(), before);
    }
  }
}

// The user's own daemon, found through RQ_RUNTIME_DIR as rqctl finds it.
TEST_F(RqctlTest, DaemonStopEndsTheUsersDaemonAndIsQuietWithoutOne) {
  test::DaemonProcess daemon(folder_ / "run/ZQ_I2cIo.sock");
  ASSERT_TRUE(daemon.Ready());
  const Result stopped = Run({"daemon", "stop"});
  EXPECT_EQ(stopped.code, 0) << stopped.err;
  EXPECT_NE(stopped.err.find("stopped the driver daemon (process " + std::to_string(daemon.Pid())),
            std::string::npos);
  EXPECT_EQ(daemon.Stop(), 0);  // it had ended by itself, cleanly

  const Result none = Run({"daemon", "stop"});
  EXPECT_EQ(none.code, 0);
  EXPECT_NE(none.err.find("no driver daemon runs"), std::string::npos) << none.err;
}

// --- a board without a monitor chip: the host's own sensors --------------------------

TEST_F(RqctlTest, SensorsWithoutAMonitorChipAreTheHostsOwnInOrder) {
  UseBoard("cg-ics9428");
  for (const std::string machine : {"desktop", "laptop", "amd"}) {
    UseHostSensors(machine);
    const Result result = Run({"sensors"});
    EXPECT_EQ(result.code, kExitOk) << result.err;
    EXPECT_EQ(result.out, test::HwmonFile(machine + ".txt"));
  }
  // The range each sensor carries is checked with the watch; here only what was read.
  json sensors = json::parse(Run({"sensors", "--json"}).out);
  for (json& sensor : sensors["sensors"]) sensor.erase("min"), sensor.erase("max");
  EXPECT_EQ(sensors.dump() + '\n', test::HwmonFile("amd.json"));
  const Result log = Run({"log", "--count", "1"});
  EXPECT_EQ(log.out.substr(0, log.out.find('\n')),
            "time,Tctl (C),Tccd1 (C),edge (C),junction (C),Composite (C),amdgpu fan1 (RPM),vddgfx (V),"
            "FSB (MHz),AGP (MHz),PCI (MHz),Memory (MHz)");
  EXPECT_NE(log.out.find(",48.5,45.75,41,43,35.85,0,0.806,"), std::string::npos) << log.out;
  // They need no daemon; the board's chips do, and standard error says so.
  board_.reset();
  const Result alone = Run({"sensors"});
  EXPECT_EQ(alone.code, kExitOk) << alone.err;
  EXPECT_EQ(alone.out, test::HwmonFile("amd.txt"));
  EXPECT_NE(alone.err.find("the board's monitor chip is not looked for"), std::string::npos) << alone.err;
  // Beside a chip of the program's families the host's sensors are not read...
  UseBoard("default");
  EXPECT_EQ(Run({"sensors"}).out.find("hwmon"), std::string::npos);
  // One a kernel driver owns is read through the driver, as the board's fifteen.
  UseHostSensors("w83627hf");
  EXPECT_EQ(Run({"sensors"}).out, test::HwmonFile("w83627hf.txt"));
}

}  // namespace
}  // namespace rq::cli
