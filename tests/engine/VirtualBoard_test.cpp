// The system object on the virtual board, through the daemon's own request decoder.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "EngineFakes.h"
#include "driver/VirtualBoardBackend.h"
#include "engine/DisableWDThread.h"
#include "engine/Formatting.h"
#include "engine/MSupport.h"
#include "hw/I2CIo.h"
#include "hw/SmbusHost.h"
#include "protocol/Protocol.h"
#include "sim/Board.h"
#include "sim/TimeSource.h"
#include "support/InProcessDriverHandle.h"

namespace rq::engine {
namespace {

using testing::SettingsFolder;

// A board's name as a test name ("cg-w312" -> "cg_w312").
std::string BoardTestName(std::string name) {
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// Options for a program on a board (or a backend over one) reached in-process, with
// its settings in the test's folder and its time in the test's hand.
template <typename Target>
MSupportOptions OptionsOn(Target& target, const SettingsFolder& settings,
                          std::shared_ptr<testing::FakeTiming> timing) {
  MSupportOptions options;
  options.settingsFile = settings.File();
  options.timing = std::move(timing);
  options.openDriver = [&target]() -> std::unique_ptr<hw::DriverHandle> {
    return std::make_unique<driver::InProcessDriverHandle>(target);
  };
  return options;
}

class VirtualBoardTest : public ::testing::TestWithParam<std::string> {
 protected:

  SettingsFolder settings_;
  std::shared_ptr<testing::FakeTiming> timing_ = std::make_shared<testing::FakeTiming>();
  sim::ManualTimeSource time_;
};

TEST_P(VirtualBoardTest, ReadsTheBiosStringAndDetectsTheNorthBridge) {
  auto board = sim::Board::Shipped(GetParam(), time_);
  MSupport support(OptionsOn(*board, settings_, timing_));
  ASSERT_TRUE(support.DriverReady());
  EXPECT_EQ(support.biosModel, board->Bios().ModelString());
  EXPECT_EQ(support.boardModel, DeriveBoardModel(board->Bios().ModelString()));
  EXPECT_FALSE(support.boardModel.empty());
  ASSERT_NE(support.northBridge, nullptr) << "board " << GetParam();
  EXPECT_FALSE(support.northBridge->GetModel().empty());
}

INSTANTIATE_TEST_SUITE_P(Shipped, VirtualBoardTest, ::testing::ValuesIn(sim::Board::ShippedNames()),
                         [](const auto& param) { return BoardTestName(param.param); });

// Clock changes and the restore on the default board (ICS950218, stable to 148 MHz,
// default 133.3 MHz), with the board's time and the watchdog thread's time in hand.
class DefaultBoardTest : public ::testing::Test {
 protected:
  DefaultBoardTest() : board_(sim::Board::Shipped("default", time_)) {}

  std::unique_ptr<MSupport> Start() { return std::make_unique<MSupport>(OptionsOn(*board_, settings_, timing_)); }
  double BoardFsb() {
    auto lock = board_->Lock();
    return board_->Processor().Fsb();
  }
  bool BoardWatchdogOn() {
    auto lock = board_->Lock();
    return board_->Dog().Enabled();
  }
  std::string SettingsText() const {
    std::ifstream in(settings_.File());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void PutSettingsText(const std::string& text) const { std::ofstream(settings_.File()) << text; }
  void LetBoardTimePass(std::chrono::seconds seconds) {
    time_.Advance(seconds);
    board_->Tick();
  }

  SettingsFolder settings_;
  std::shared_ptr<testing::FakeTiming> timing_ = std::make_shared<testing::FakeTiming>();
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
};

// Counts the SMBus transfers the ICH host starts towards the clock generator to
// read from it: each begins by writing its read address to the host's address port.
class ClockGenReadCounter : public hw::DriverHandle {
 public:
  explicit ClockGenReadCounter(sim::Board& board) : board_(board) {}
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override {
    constexpr std::uint16_t kIchAddressPort = 0x04;
    constexpr std::uint32_t kClockGenRead = 0xD3;
    const std::uint32_t base = hw::ProcessSmbusHost().base;
    if (code == protocol::kIoctlWritePortByte && base != 0 &&
        protocol::LoadU32(buffer, protocol::port_request::kPort) == base + kIchAddressPort &&
        protocol::LoadU32(buffer, protocol::port_request::kValueToWrite) == kClockGenRead) {
      ++reads;
    }
    return board_.DeviceIoControl(code, buffer, length);
  }
  int reads = 0;

 private:
  driver::InProcessDriverHandle board_;
};

// The ICS950218 keeps the CPU divider in register 15, the PLL in 11-12 and the AGP
// and PCI dividers in 16 and 17: four reads, none of a register twice.
TEST_F(DefaultBoardTest, RefreshReadsEachClockGeneratorRegisterOnce) {
  ClockGenReadCounter* counter = nullptr;
  MSupportOptions options = OptionsOn(*board_, settings_, timing_);
  options.openDriver = [&]() -> std::unique_ptr<hw::DriverHandle> {
    auto handle = std::make_unique<ClockGenReadCounter>(*board_);
    counter = handle.get();
    return handle;
  };
  MSupport support(options);
  ASSERT_NE(counter, nullptr);
  counter->reads = 0;
  support.RefreshClocks();
  EXPECT_EQ(counter->reads, 4);
  EXPECT_EQ(support.fsbClock, 133.3);
  EXPECT_EQ(support.agpClock, 66.7);
  EXPECT_EQ(support.pciClock, 33.3);
}

TEST_F(DefaultBoardTest, StepIsWatchedOnTheChipAndDisarmedAfterTenQuietSeconds) {
  auto support = Start();
  ASSERT_NE(support->clockGenerator, nullptr);
  EXPECT_NEAR(support->hwDefaultClock, 133.3, 0.05);
  timing_->AdvanceSeconds(10);
  support->WatchdogThread()->WaitFor();
  EXPECT_FALSE(BoardWatchdogOn());

  support->ChangeFsb(support->fsbClock + 3, true);
  support->RefreshClocks();
  EXPECT_NEAR(support->fsbClock, 136.3, 0.3);
  EXPECT_NEAR(BoardFsb(), support->fsbClock, 0.05);
  EXPECT_TRUE(BoardWatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "1");
  EXPECT_EQ(support->GetOverclockPercent(), 102);

  timing_->AdvanceSeconds(10);
  support->WatchdogThread()->WaitFor();
  EXPECT_FALSE(BoardWatchdogOn());
  EXPECT_EQ(settings_.Read("InWatch"), "0");
}

TEST_F(DefaultBoardTest, HangBeyondTheLimitIsResetByTheWatchdogAndRecoveredAtTheNextStart) {
  {
    auto support = Start();
    timing_->AdvanceSeconds(10);
    support->WatchdogThread()->WaitFor();
    support->ChangeFsb(145, true);
    support->RefreshClocks();
    support->SaveSafeFreq();
    ASSERT_TRUE(settings_.Has("SafeFreq"));

    support->ChangeFsb(152, true);  // beyond 148: the machine stops
    ASSERT_TRUE(board_->Hung());
    // What the machine left on disk when it stopped; the process dies with it, so
    // nothing it would write on a clean exit may count.
    const std::string leftOnDisk = SettingsText();
    LetBoardTimePass(std::chrono::seconds(41));
    EXPECT_FALSE(board_->Hung());
    EXPECT_EQ(board_->ResetCount(), 1u);
    support.reset();
    PutSettingsText(leftOnDisk);
  }
  ASSERT_EQ(settings_.Read("InWatch"), "1");
  const double safe = std::stod(settings_.Read("SafeFreq"));

  auto support = Start();
  EXPECT_NEAR(support->fsbClock, safe - 3, 0.5);  // within half a PLL step
  EXPECT_NEAR(BoardFsb(), support->fsbClock, 0.05);
  EXPECT_FALSE(board_->Hung());
  EXPECT_EQ(settings_.Read("SafeFreq"), FloatToText(support->fsbClock));
  timing_->AdvanceSeconds(10);
  support->WatchdogThread()->WaitFor();
  EXPECT_EQ(settings_.Read("InWatch"), "0");
  EXPECT_FALSE(BoardWatchdogOn());
}

// Parts that lose their power-on clock once the PLL is programmed (or never had it
// in a register): a run that ends across a bus-class boundary must not change the
// hardware default the next start sees.
struct PowerOnCase {
  const char* board;
  double powerOnDefault;
  double lowerClock;  // in another bus class than the power-on clock
};

// The board's time, the program's waits and the SMBus host's clock in a test's hand, for
// programs started one after another on fresh boards.
struct BoardTimes {
  // A program on `target` (a board or a backend over one) that finds its own SMBus host,
  // not the one an earlier board had.
  template <typename Target>
  std::unique_ptr<MSupport> StartOn(Target& target, const SettingsFolder& settings) {
    hw::ProcessSmbusHost() = {};
    return std::make_unique<MSupport>(OptionsOn(target, settings, timing_));
  }

  std::shared_ptr<testing::FakeTiming> timing_ = std::make_shared<testing::FakeTiming>();
  sim::ManualTimeSource time_;
  hw::VirtualSmbusClock smbusClock_;
  hw::ScopedSmbusClock smbusClockScope_{smbusClock_};
};

class PowerOnDefaultTest : public ::testing::TestWithParam<PowerOnCase>, protected BoardTimes {
 protected:
  std::unique_ptr<MSupport> Start(sim::Board& board) { return StartOn(board, settings_); }

  SettingsFolder settings_;
};

TEST_P(PowerOnDefaultTest, AStepAcrossABusClassKeepsTheDefaultAndTheSafeClock) {
  const PowerOnCase& c = GetParam();
  auto board = sim::Board::Shipped(c.board, time_);
  settings_.Write("SafeFreq", "140");
  {
    auto support = Start(*board);
    ASSERT_NE(support->clockGenerator, nullptr);
    EXPECT_EQ(support->hwDefaultClock, c.powerOnDefault);
    support->ChangeFsb(c.lowerClock, true);
    support->RefreshClocks();
    ASSERT_NEAR(support->fsbClock, c.lowerClock, 0.6);
  }
  auto support = Start(*board);
  EXPECT_EQ(support->hwDefaultClock, c.powerOnDefault);
  EXPECT_EQ(settings_.Read("SafeFreq"), "140");
  EXPECT_EQ(TextToFloat(settings_.Read("HWDefCPUClk")), c.powerOnDefault);
  EXPECT_NEAR(support->fsbClock, 140.0, 0.6);
}

INSTANTIATE_TEST_SUITE_P(Boards, PowerOnDefaultTest,
                         ::testing::Values(PowerOnCase{"cg-cy28325", 133.0, 128.0},
                                           PowerOnCase{"cg-w312", 167.0, 150.0},
                                           PowerOnCase{"cg-cy28341", 133.3, 128.0},
                                           PowerOnCase{"cg-ics94228", 133.0, 128.0},
                                           PowerOnCase{"cg-ics952001", 133.3, 128.0}),
                         [](const auto& param) { return BoardTestName(param.param.board); });


// What the machine shows of one life of the program's clock handling on a board: the
// chips found, the SMBus devices' state after a watched step, a hang past the CPU's
// limit ended by the watchdog, and the next start.
struct ClockLife {
  std::string clockGenerator, overclockController;
  nlohmann::json devicesAfterStep;
  double fsbAfterStep = 0, fsbAfterRestart = 0, safeBeforeHang = 0;
  bool hung = false, hungAfterWatchdog = true, kernelAdapter = false, sisHost = false;
  std::uint64_t resets = 0;
  std::string inWatchAtRestart, inWatchAfterRestartWatch;
};

class KernelAdapterBoardTest : public ::testing::TestWithParam<std::string>, protected BoardTimes {
 protected:
  // One run on a fresh board, its SMBus reached through the board's kernel adapter or its ports.
  ClockLife Live(bool kernelSmbus) {
    ClockLife life;
    auto board = sim::Board::Shipped(GetParam(), time_);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, kernelSmbus);
    SettingsFolder settings;
    auto start = [&] {
      auto support = StartOn(backend, settings);
      if (support->WatchdogRunning()) {  // the start's own watch over the clock it set
        timing_->AdvanceSeconds(10);
        support->WatchdogThread()->WaitFor();
      }
      return support;
    };
    auto support = start();
    life.kernelAdapter = hw::ProcessSmbusHost().kernelAdapter;
    life.sisHost = hw::ProcessSmbusHost().kind == hw::kHostSis962;
    if (support->clockGenerator == nullptr) return life;
    life.clockGenerator = support->clockGenerator->GetModel();
    if (support->overclockController) life.overclockController = support->overclockController->GetModel();

    support->ChangeFsb(support->fsbClock + 6, true);  // the next start recovers above the default
    support->RefreshClocks();
    life.fsbAfterStep = support->fsbClock;
    for (const auto& [address, device] : board->Smbus().Devices()) {
      life.devicesAfterStep[std::to_string(address)] = device->Inspect();
    }
    timing_->AdvanceSeconds(10);
    support->WatchdogThread()->WaitFor();
    support->SaveSafeFreq();
    life.safeBeforeHang = std::stod(settings.Read("SafeFreq"));

    support->ChangeFsb(board->Processor().MaxStableFsb() + 6, true);
    life.hung = board->Hung();
    std::stringstream leftOnDisk;
    leftOnDisk << std::ifstream(settings.File()).rdbuf();
    time_.Advance(std::chrono::seconds(41));
    board->Tick();
    life.hungAfterWatchdog = board->Hung();
    life.resets = board->ResetCount();
    support.reset();  // the program died with the machine: only what it left on disk counts
    std::ofstream(settings.File()) << leftOnDisk.str();
    life.inWatchAtRestart = settings.Read("InWatch");

    support = start();
    life.fsbAfterRestart = support->fsbClock;
    life.inWatchAfterRestartWatch = settings.Read("InWatch");
    return life;
  }
};

// Through the kernel's adapter every board finds the same chips, and a step, a hang, the
// watchdog's reset and the restart three below the safe clock leave the machine as through
// its ports.
TEST_P(KernelAdapterBoardTest, ClockLifeIsTheSameAsThroughThePorts) {
  const ClockLife ports = Live(false);
  const ClockLife kernel = Live(true);
  if (ports.clockGenerator.empty()) {
    EXPECT_TRUE(kernel.clockGenerator.empty());
    return;  // a board whose clock the north bridge sets, or with no SMBus host
  }
  EXPECT_TRUE(kernel.kernelAdapter);
  EXPECT_FALSE(ports.kernelAdapter);
  EXPECT_EQ(kernel.clockGenerator, ports.clockGenerator);
  EXPECT_EQ(kernel.overclockController, ports.overclockController);
  nlohmann::json portDevices = ports.devicesAfterStep;
  if (ports.sisHost) {
    // The SiS host sets the device's byte count (register 8) before each block read; the
    // adapter takes the count the device sends. Only that register may differ.
    constexpr int kByteCountRegister = 8;
    for (auto& [address, device] : portDevices.items()) {
      if (device.contains("registers"))
        device["registers"][kByteCountRegister] = kernel.devicesAfterStep[address]["registers"][kByteCountRegister];
    }
  }
  EXPECT_EQ(kernel.devicesAfterStep, portDevices);
  EXPECT_EQ(kernel.fsbAfterStep, ports.fsbAfterStep);
  EXPECT_EQ(kernel.fsbAfterRestart, ports.fsbAfterRestart);
  for (const ClockLife* life : {&ports, &kernel}) {
    EXPECT_TRUE(life->hung);
    EXPECT_FALSE(life->hungAfterWatchdog);
    EXPECT_EQ(life->resets, 1u);
    EXPECT_EQ(life->inWatchAtRestart, "1");
    EXPECT_NEAR(life->fsbAfterRestart, life->safeBeforeHang - 3, 1.1);  // the part's nearest step
    EXPECT_EQ(life->inWatchAfterRestartWatch, "0");
  }
}

// The clock generator's PLL bytes after a step through the adapter, on a VIA, a SiS and an
// ICH host (N and M worked out from each part's PLL formula for the clock asked).
TEST(KernelAdapterBytes, AStepLeavesThePartsPllBytes) {
  struct Case {
    const char* board;
    double fsb;
    std::map<int, int> registers;
  };
  const Case cases[] = {
      {"cg-cy28341", 136.3, {{7, 0x44}, {9, 0x61}}},   // N 68, M 48
      {"cg-ics9428", 136.3, {{11, 0x06}, {12, 0x90}}},  // N 144 (D 2, M 6 as this board sets it)
      {"cg-cy28323", 136.0, {{13, 0x85}, {14, 0xAD}}},  // N 133, M 45
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board);
    BoardTimes times;
    auto board = sim::Board::Shipped(c.board, times.time_);
    driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, true);
    SettingsFolder settings;
    auto support = times.StartOn(backend, settings);
    ASSERT_TRUE(hw::ProcessSmbusHost().kernelAdapter);
    ASSERT_TRUE(support->ChangeFsb(c.fsb, true));
    const nlohmann::json registers = board->Smbus().Find(0x69)->Inspect()["registers"];
    for (const auto& [reg, value] : c.registers) EXPECT_EQ(registers[reg], value) << "register " << reg;
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, KernelAdapterBoardTest, ::testing::ValuesIn(sim::Board::ShippedNames()),
                         [](const auto& param) { return BoardTestName(param.param); });

}  // namespace
}  // namespace rq::engine
