// The GPIO over-voltage controllers against virtual boards: each board's south
// bridge with its GPIO block, a core regulator the pins drive and a monitor chip
// that measures it. Expected pins are the level registers' literal bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/SystemFacts.h"
#include "devices/gpiovolt/SouthBridgeGpios.h"
#include "devices/monitor/MonitorChips.h"
#include "support/InProcessDriverHandle.h"
#include "hw/DriverHandle.h"
#include "sim/Board.h"

namespace rq::devices {
namespace {

// The south bridge functions each family needs: ICH GPIO at 0x0880, VIA and SiS at 0x0800.
constexpr char kIch2[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:31.0\"\nvendor = 0x8086\n"
    "device = 0x2440\nwords = { 0x58 = 0x0881 }\n";
constexpr char kIch4[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:31.0\"\nvendor = 0x8086\n"
    "device = 0x24C0\nwords = { 0x58 = 0x0881 }\n";
constexpr char kIch5[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:31.0\"\nvendor = 0x8086\n"
    "device = 0x24D0\nwords = { 0x58 = 0x0881 }\n";
constexpr char kVt8235[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:17.0\"\nvendor = 0x1106\n"
    "device = 0x3177\nwords = { 0x88 = 0x0801 }\n";
constexpr char kVt8237[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:17.0\"\nvendor = 0x1106\n"
    "device = 0x3227\nwords = { 0x88 = 0x0801 }\n";
constexpr char kSis962[] =
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:0.0\"\nvendor = 0x1039\n"
    "device = 0x0648\nwords = { 0x68 = 0x0801 }\n"
    "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:2.0\"\nvendor = 0x1039\n"
    "device = 0x0008\n";

// A virtual board with the program's driver channel, board model, settings section,
// monitor and (counted, never slept) settle waits pointed at it.
class GpioBench {
 public:
  GpioBench(const std::string& bridge, double vid, const std::string& gpio, const std::string& section) {
    static int serial = 0;
    file_ = "/tmp/rq-gpio-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".ini";
    std::ofstream(file_) << "[GPIOTEST]\n" << section;
    board_ = sim::Board::FromProfileText(
        "name = \"gpio-test\"\n[bios]\nmodel = \"GPIO TEST\"\n"
        "[cpu]\nmultiplier = 18\nmax_stable_fsb = 148.0\npower_on_fsb = 133.3\n" +
            bridge + "[[chip]]\ntype = \"analog\"\nripple_percent = 0\ncpu_vid = " + std::to_string(vid) +
            "\n[[chip]]\ntype = \"w83627hf\"\nbase = 0x290\n[[chip]]\n" + gpio,
        time_);
    driver_ = std::make_unique<driver::InProcessDriverHandle>(*board_);
    handle_ = std::make_unique<hw::ScopedDriverHandle>(driver_.get());
    SystemFacts& facts = CurrentSystem();
    facts = SystemFacts{};
    facts.boardModel = "GPIOTEST";
    facts.settingsFile = file_;
    facts.hardwareMonitor = &monitor_;
    facts.sleep = [this](std::uint32_t ms) { slept.push_back(ms); };
  }
  ~GpioBench() {
    CurrentSystem() = SystemFacts{};
    handle_.reset();
    std::remove(file_.c_str());
  }
  GpioBench(const GpioBench&) = delete;
  GpioBench& operator=(const GpioBench&) = delete;

  std::uint8_t Port(std::uint16_t port) { return board_->Ports().In(port); }
  double CoreVolts() { return board_->Analogue().SetPoint(sim::Supply::VCore); }
  sim::Board& Board() { return *board_; }
  std::vector<std::uint32_t> slept;

 private:
  std::string file_;
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
  std::unique_ptr<driver::InProcessDriverHandle> driver_;
  std::unique_ptr<hw::ScopedDriverHandle> handle_;
  W83627HFIo monitor_;
};

constexpr char kIch4Pins[] =
    "type = \"ich4-gpio\"\ncore_percent = [10, 7.5, 5, 0]\nmemory_volts = [2.5, 2.6, 2.7, 2.8]\n"
    "core_level = 2\nmemory_level = 0\nbytes = { 0x38 = 0x40 }\n";
constexpr char kIch4Section[] =
    "GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,7.5,5,0\nGPIOOverVdimmList=2.5,2.6,2.7,2.8\n";
constexpr std::uint16_t kIch4Level = 0x880 + 0x38;

// VID 1.45 at +5 % measures 1.52 V; less 5 %, plus the ICH4's 0.05 V: 1.50 V.
TEST(Ich4, ChoosesTheCoreLevelByPercentAboveTheDefaultAndTheMemoryLevelByExactVolts) {
  GpioBench bench(kIch4, 1.45, kIch4Pins, kIch4Section);
  ICH4GpioVoltIo gpio;
  ASSERT_TRUE(gpio.Detect());
  ASSERT_EQ(gpio.DefaultCoreVoltage(), 1.5);
  ASSERT_EQ(bench.Port(kIch4Level), 0x42);
  struct Step {
    const char* what;
    std::function<void()> act;
    std::uint8_t pins;
  };
  const std::vector<Step> steps = {
      {"1.56 V is +4 %: the 0 % at level 3", [&] { gpio.SetCoreVoltage(1.56); }, 0x43},
      {"1.65 V is +10 %: level 0", [&] { gpio.SetCoreVoltage(1.65); }, 0x40},
      {"below the default: pins unchanged", [&] { gpio.SetCoreVoltage(1.4); }, 0x40},
      {"2.65 V is in no entry: level 3", [&] { gpio.SetMemoryVoltage(2.65); }, 0x4C},
      {"2.6 V is entry 1", [&] { gpio.SetMemoryVoltage(2.6); }, 0x44},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(bench.Port(kIch4Level), step.pins) << step.what;
  }
  EXPECT_DOUBLE_EQ(gpio.ReadMemoryVoltage(), 2.6);
  // The regulator follows the pins: VID 1.45 V + 10 % measures 1.6 V.
  EXPECT_DOUBLE_EQ(gpio.ReadCoreVoltage(), 1.6);
  EXPECT_EQ(bench.slept, std::vector<std::uint32_t>{2000});
}

// Measured 1.92 V at +10 % gives 1.75 V + 0.05 V = 1.80 V: no row of the raise
// table, so the target is the default itself, the first level of 0 % or less.
TEST(Ich4, RaiseFromADefaultOutsideTheTableSelectsTheFirstLevelOfNoMoreThanZero) {
  GpioBench bench(
      kIch4, 1.7455,
      "type = \"ich4-gpio\"\ncore_percent = [10, 7.5, 0, 0]\ncore_level = 0\nbytes = { 0x38 = 0x40 }\n",
      "GPIOOverVcore=1\nGPIOOverVcoreList=10,7.5,0,0\n");
  ICH4GpioVoltIo gpio;
  ASSERT_EQ(gpio.DefaultCoreVoltage(), 1.8);
  gpio.RaiseCoreVoltage();
  EXPECT_EQ(bench.Port(kIch4Level), 0x42);
  gpio.RaiseMemoryVoltage();
  EXPECT_EQ(bench.Port(kIch4Level), 0x42);
}

TEST(Ich2, CoreAndMemoryShareTheirPins) {
  GpioBench bench(
      kIch2, 1.75,
      "type = \"ich2-gpio\"\ncore_percent = [10, 5, 2.5, 0]\nmemory_volts = [2.8, 2.7, 2.6, 2.55]\n"
      "core_level = 3\nbytes = { 0x0E = 0x81 }\n",
      "GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,5,2.5,0\nGPIOOverVdimmList=2.8,2.7,2.6,2.55\n");
  ICH2GpioVoltIo gpio;
  ASSERT_EQ(bench.Port(0x88E), 0x8D);
  gpio.SetMemoryVoltage(2.7);
  EXPECT_EQ(bench.Port(0x88E), 0x85);
  EXPECT_NEAR(bench.CoreVolts(), 1.75 * 1.05, 1e-9);
  gpio.SetCoreVoltage(2.5);
  EXPECT_EQ(bench.Port(0x88E), 0x81);
  EXPECT_DOUBLE_EQ(gpio.ReadMemoryVoltage(), 2.8);
}

constexpr char kCoreAndMemory[] =
    "GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=%s\nGPIOOverVdimmList=2.5,2.6,2.7,2.8\n";
std::string Section(const char* coreList) {
  char text[200];
  std::snprintf(text, sizeof text, kCoreAndMemory, coreList);
  return text;
}

// One level write per south bridge, from the pins' power-on state.
struct WriteCase {
  const char* name;
  const char* bridge;
  double vid;
  const char* gpio;
  std::string section;
  std::function<std::unique_ptr<GpioVoltIo>()> make;
  std::function<void(GpioVoltIo&)> act;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> registers;
  std::uint32_t settleMs;
};

class EveryBridge : public ::testing::TestWithParam<WriteCase> {};

TEST_P(EveryBridge, WritesTheLevelAsItsPinsExpect) {
  const WriteCase& c = GetParam();
  GpioBench bench(c.bridge, c.vid, c.gpio, c.section);
  const auto gpio = c.make();
  ASSERT_TRUE(gpio->Detect());
  c.act(*gpio);
  for (const auto& [port, value] : c.registers) {
    EXPECT_EQ(bench.Port(port), value) << std::hex << "port 0x" << port;
  }
  gpio->ReadCoreVoltage();
  EXPECT_EQ(bench.slept, std::vector<std::uint32_t>{c.settleMs});
}

INSTANTIATE_TEST_SUITE_P(
    Levels, EveryBridge,
    ::testing::Values(
        WriteCase{
            "ich2",
            kIch2,
            1.75,
            "type = \"ich2-gpio\"\ncore_percent = [10, 5, 2.5, 0]\nmemory_volts = [2.5, 2.6, 2.7, 2.8]\n"
            "core_level = 3\nbytes = { 0x0E = 0x81 }\n",
            Section("10,5,2.5,0"),
            Make<ICH2GpioVoltIo>,
            [](GpioVoltIo& g) { g.SetCoreVoltage(2.5); },
            {{0x88E, 0x81}},
            2000},
        WriteCase{"ich4",
                  kIch4,
                  1.45,
                  kIch4Pins,
                  kIch4Section,
                  Make<ICH4GpioVoltIo>,
                  [](GpioVoltIo& g) { g.SetMemoryVoltage(2.7); },
                  {{0x8B8, 0x4A}},
                  2000},
        // Level 1 (+4 %) is not wired on ICH5 boards: level 2's pins.
        WriteCase{"ich5",
                  kIch5,
                  1.5,
                  "type = \"ich5-gpio\"\ncore_percent = [8, 4, 4, 0]\nmemory_volts = [2.5, 2.6, 2.7, 2.8]\n"
                  "core_level = 3\nmemory_level = 0\nbytes = { 0x0E = 0x02, 0x38 = 0x10 }\n",
                  Section("8,4,4,0"),
                  Make<ICH5GpioVoltIo>,
                  [](GpioVoltIo& g) {
                    g.SetCoreVoltage(1.575);
                    g.SetMemoryVoltage(2.7);
                  },
                  {{0x88E, 0x12}, {0x8B8, 0x11}},
                  3000},
        // VIA: read the inputs, write the outputs; core level 1 drives 10, which
        // the board's inverters turn into lines 01.
        WriteCase{"vt8235",
                  kVt8235,
                  1.65,
                  "type = \"vt8235-gpio\"\ncore_percent = [6, 3, 3, 0]\nmemory_volts = [2.5, 2.6, 2.7, 2.8]\n"
                  "core_pins_inverted = true\ncore_level = 3\nmemory_level = 0\n"
                  "bytes = { 0x4A = 0x05, 0x4B = 0x81, 0x4E = 0x05, 0x4F = 0x01 }\n",
                  Section("6,3,3,0"),
                  Make<VT8235GpioVoltIo>,
                  [](GpioVoltIo& g) {
                    g.SetCoreVoltage(1.7);
                    g.SetMemoryVoltage(2.6);
                  },
                  {{0x84F, 0xA1}, {0x84B, 0x91}, {0x84E, 0x45}, {0x84A, 0x45}},
                  2000},
        // Level 0 sets bit 5 and keeps bit 4 as the inputs showed it: latch 11,
        // lines 00.
        WriteCase{"vt8237",
                  kVt8237,
                  1.65,
                  "type = \"vt8237-gpio\"\ncore_percent = [6, 3, 3, 0]\ncore_pins_inverted = true\n"
                  "core_level = 3\nbytes = { 0x4B = 0x81, 0x4F = 0x01 }\n",
                  "GPIOOverVcore=1\nGPIOOverVcoreList=6,3,3,0\n",
                  Make<VT8237GpioVoltIo>,
                  [](GpioVoltIo& g) { g.SetCoreVoltage(2.0); },
                  {{0x84F, 0xB1}, {0x84B, 0x81}},
                  2000},
        // SiS: level 0 becomes 1, which clears the low nibble of 0x65.
        WriteCase{"sis962",
                  kSis962,
                  1.525,
                  "type = \"sis962-gpio\"\ncore_percent = [5, 5, 5, 0]\nmemory_volts = [2.5, 2.6, 2.7, 2.8]\n"
                  "core_level = 3\nmemory_level = 1\nbytes = { 0x64 = 0x11, 0x65 = 0x28 }\n",
                  Section("5,5,5,0"),
                  Make<SIS962GpioVoltIo>,
                  [](GpioVoltIo& g) {
                    g.SetCoreVoltage(1.6);
                    g.SetMemoryVoltage(2.8);
                  },
                  {{0x865, 0x60}, {0x864, 0x91}},
                  2000}),
    [](const auto& param) { return std::string(param.param.name); });

// A list of more than four values keeps the first four; an empty one or one with a
// piece that is not a number switches its voltage off: no reading, no pin touched.
struct ListCase {
  const char* section;
  bool coreOn;
  bool memoryOn;
  std::uint8_t pinsAfterSetting;
  double memoryVolts;
};

class BoardLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(BoardLists, KeepFourValuesOrSwitchTheirVoltageOff) {
  const ListCase& c = GetParam();
  GpioBench bench(kIch4, 1.45, kIch4Pins, c.section);
  ICH4GpioVoltIo gpio;
  EXPECT_EQ(gpio.CoreEnabled(), c.coreOn);
  EXPECT_EQ(gpio.MemoryEnabled(), c.memoryOn);
  gpio.SetCoreVoltage(1.56);
  gpio.SetMemoryVoltage(2.7);
  EXPECT_EQ(bench.Port(kIch4Level), c.pinsAfterSetting);
  EXPECT_DOUBLE_EQ(gpio.ReadMemoryVoltage(), c.memoryVolts);
  if (!c.coreOn) {
    EXPECT_EQ(gpio.ReadCoreVoltage(), 0.0);
    EXPECT_TRUE(bench.slept.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BoardLists,
    ::testing::Values(
        ListCase{"GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,7.5,5,0,9,9,9,9,9,9\n"
                 "GPIOOverVdimmList=2.5,2.6,2.7,2.8,2.9,3.0,3.1,3.2,3.3\n",
                 true, true, 0x4B, 2.7},
        ListCase{"GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=\nGPIOOverVdimmList=2.5,2.6,2.7,2.8\n",
                 false, true, 0x4A, 2.7},
        ListCase{
            "GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,abc,5,0\nGPIOOverVdimmList=2.5,2.6,\n",
            false, false, 0x42, 0.0},
        ListCase{"GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList= \nGPIOOverVdimmList=2.5,x\n", false,
                 false, 0x42, 0.0},
        ListCase{"GPIOOverVcore=1\nGPIOOverVcoreList= 10 , 7.5 ,5,0\n", true, false, 0x43, 0.0},
        // Short lists: 1.56 V (+4 %) meets the unnamed 0 % of level 3; 2.7 V is level 1.
        ListCase{"GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,7.5,5\nGPIOOverVdimmList=2.5,2.7\n",
                 true, true, 0x47, 2.7},
        // The default is 1.57 V at the unnamed level 2: 1.56 V is below it; 2.7 V is level 2.
        ListCase{
            "GPIOOverVcore=1\nGPIOOverVdimm=1\nGPIOOverVcoreList=10,7.5\nGPIOOverVdimmList=2.5,2.6,2.7\n",
            true, true, 0x4A, 2.7}));

}  // namespace
}  // namespace rq::devices
