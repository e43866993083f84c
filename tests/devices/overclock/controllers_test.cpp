// The overclock controllers against virtual boards, through the program's driver
// channel and SMBus host: every transfer the chip sees is recorded and compared
// with the bytes written out here.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <ostream>

#include "devices/SystemFacts.h"
#include "devices/northbridge/PciMchIo.h"
#include "devices/overclock/I2cOverclkIo.h"
#include "driver/InProcessDriverHandle.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"

namespace rq::devices {
namespace {

struct Transfer {
  char op;  // 'R' or 'W'
  int reg;
  int value;
  bool operator==(const Transfer&) const = default;
};
Transfer R(int reg, int value) { return {'R', reg, value}; }
Transfer W(int reg, int value) { return {'W', reg, value}; }
void PrintTo(const Transfer& t, std::ostream* os) { *os << t.op << t.reg << "=0x" << std::hex << t.value; }
using Trace = std::vector<Transfer>;

// Sits at the controller's address in front of the board's own chip, records
// each transfer with the bus semaphore's acquisition count at that moment, and
// can answer a register with a value of the test's choosing.
class Recorder : public sim::SmbusDevice {
 public:
  Recorder(sim::SmbusDevice* chip, const platform::BusSemaphore& sem)
      : SmbusDevice(0x4E), chip_(chip), sem_(sem) {}
  std::string Name() const override { return "recorder"; }
  void PowerOnReset() override {}
  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override {
    if (chip_ == nullptr || !chip_->ReadByteData(command, value)) return false;
    if (const auto found = answers.find(command); found != answers.end()) value = found->second;
    Log('R', command, value);
    return true;
  }
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override {
    if (chip_ == nullptr || !chip_->WriteByteData(command, value)) return false;
    Log('W', command, value);
    return true;
  }
  bool BlockRead(std::uint8_t, std::vector<std::uint8_t>&) override { return false; }
  bool BlockWrite(std::uint8_t, std::span<const std::uint8_t>) override { return false; }

  Trace trace;
  std::vector<std::uint64_t> locks;
  std::map<std::uint8_t, std::uint8_t> answers;

 private:
  void Log(char op, std::uint8_t reg, std::uint8_t value) {
    trace.push_back({op, reg, value});
    locks.push_back(sem_.Acquisitions());
  }
  sim::SmbusDevice* chip_;
  const platform::BusSemaphore& sem_;
};

class FakeNorthBridge : public PciMchIo {
 public:
  explicit FakeNorthBridge(bool k7) : PciMchIo("test", "test north bridge", k7) {}
  bool Detect() override { return true; }
  double GetMemoryClock(double fsb) override { return fsb; }
};

const std::string kAtxp3 = "type = \"atxp3\"\n";
const std::string kAtxp1 = "type = \"atxp1\"\n";
const std::string kIch5Host = "type = \"ich-smbus\"\nkind = 103\nbase = 0x0400\nbytes = { 0x40 = 0x01 }\n";

// A board with an SMBus host, one chip at the controller's address (its [[chip]]
// keys) and a CPU of the given VID.
std::string TestBoard(const std::string& chip, double cpuVid, const std::string& host = kIch5Host) {
  return "name = \"oc-test\"\n[bios]\nmodel = \"OC TEST\"\n"
         "[cpu]\nmultiplier = 18\nmax_stable_fsb = 148.0\npower_on_fsb = 133.3\n"
         "[[chip]]\n" +
         host + "[[chip]]\n" + chip + "[[chip]]\ntype = \"analog\"\ncpu_vid = " + std::to_string(cpuVid) +
         "\nvmem = 2.65\n";
}

// A board reached through the program's driver channel, with the system facts a
// controller consults: the bus semaphore, a north bridge (k7 says which; none
// without it) and the board model. Everything goes back as it was afterwards.
// `profile` is a shipped board's name or a profile's text.
class Bench {
 public:
  Bench(const std::string& profile, const std::string& boardModel, std::optional<bool> k7)
      : board(profile.find('\n') == std::string::npos ? sim::Board::Shipped(profile, time_)
                                                      : sim::Board::FromProfileText(profile, time_)),
        northBridge_(k7.value_or(false)),
        handle_(*board),
        scope_(&handle_),
        clockScope_(clock_),
        savedHost_(hw::ProcessSmbusHost()),
        savedFacts_(CurrentSystem()) {
    hw::ProcessSmbusHost() = {};
    SystemFacts& facts = CurrentSystem();
    facts.busSemaphore = &semaphore;
    facts.northBridge = k7.has_value() ? &northBridge_ : nullptr;
    facts.boardModel = boardModel;
    sim::SmbusDevice* chip = board->Smbus().Find(0x4E);
    if (chip != nullptr) board->Smbus().Detach(*chip);
    recorder = std::make_unique<Recorder>(chip, semaphore);
    board->Smbus().Attach(*recorder);
  }
  ~Bench() {
    CurrentSystem() = savedFacts_;
    hw::ProcessSmbusHost() = savedHost_;
  }

  // Builds the controller and probes it; the trace then starts afresh.
  template <typename Controller>
  std::unique_ptr<I2cOverclkIo> Probed() {
    auto controller = std::make_unique<Controller>();
    EXPECT_TRUE(controller->Probe());
    Clear();
    return controller;
  }
  void Clear() {
    recorder->trace.clear();
    recorder->locks.clear();
  }
  double Supply(sim::Supply supply) { return board->Analogue().SetPoint(supply); }
  const Trace& Traced() const { return recorder->trace; }

 private:
  sim::ManualTimeSource time_;

 public:
  platform::BusSemaphore semaphore;
  std::unique_ptr<sim::Board> board;
  std::unique_ptr<Recorder> recorder;

 private:
  FakeNorthBridge northBridge_;
  driver::InProcessDriverHandle handle_;
  hw::ScopedDriverHandle scope_;
  hw::VirtualSmbusClock clock_;
  hw::ScopedSmbusClock clockScope_;
  hw::SmbusHostState savedHost_;
  SystemFacts savedFacts_;
};

TEST(OverclockProbe, AnswersOnlyOnItsPlatform) {
  struct Case {
    const char* what;
    std::string profile;
    std::optional<bool> k7;  // none: no north bridge detected
    std::optional<std::uint8_t> vidAnswer;
    bool atxp3;
    bool present;
    Trace trace;
  };
  const std::string atxp3 = TestBoard(kAtxp3, 1.525);
  const std::vector<Case> cases = {
      {"ATXP3 on an Intel board", atxp3, false, {}, true, true, {R(1, 0x0D), R(1, 0x0D)}},
      {"register 1 reads 0xFF", atxp3, false, 0xFF, true, false, {R(1, 0xFF)}},
      {"ATXP3 beside a K7 north bridge", atxp3, true, {}, true, false, {R(1, 0x0D)}},
      {"no north bridge", atxp3, {}, {}, true, false, {R(1, 0x0D)}},
      {"ATXP1 beside a K7 north bridge",
       TestBoard(kAtxp1, 1.65),
       true,
       {},
       false,
       true,
       {R(1, 0x08), R(1, 0x08)}},
      {"ATXP1 on an Intel board", TestBoard(kAtxp1, 1.65), false, {}, false, false, {R(1, 0x08)}},
      {"nothing at 0x9C",
       TestBoard("type = \"smbus-register-file\"\naddress = 0x50\n", 1.5),
       false,
       {},
       true,
       false,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench(c.profile, "ZR865", c.k7);
    if (c.vidAnswer) bench.recorder->answers[1] = *c.vidAnswer;
    std::unique_ptr<I2cOverclkIo> controller;
    if (c.atxp3) {
      controller = std::make_unique<ATX3PIo>();
    } else {
      controller = std::make_unique<ATX1PIo>();
    }
    EXPECT_EQ(controller->Probe(), c.present);
    EXPECT_EQ(bench.Traced(), c.trace);
    EXPECT_DOUBLE_EQ(controller->DefaultCoreVoltage(), c.present ? (c.atxp3 ? 1.525 : 1.65) : 0.0);
  }
}

TEST(OverclockProbe, OnlyTheListedHostsGetAController) {
  const std::string via = "type = \"via-smbus\"\nbase = 0x0400\nbytes = { 0xD2 = 0x01 }\nkind = ";
  struct Case {
    std::string profile;
    bool present;
  };
  const std::vector<Case> cases = {
      {TestBoard(kAtxp3, 1.5, via + "302\n"), true},
      {TestBoard(kAtxp3, 1.5, via + "301\n"), false},  // the VT8233A is not among them
      {TestBoard(kAtxp3, 1.5, "type = \"sis962-smbus\"\n"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    Bench bench(c.profile, "ZR865", false);
    EXPECT_EQ(ATX3PIo().Probe(), c.present);
  }
  {
    Bench bench("nforce2", "N2CR1", true);  // the nVidia MCP is
    EXPECT_TRUE(ATX1PIo().Probe());
  }
  hw::ScopedDriverHandle none(nullptr);
  EXPECT_FALSE(ATX3PIo().Probe());
}

TEST(OverclockCandidates, Atxp3ThenAtxp1) {
  hw::ScopedDriverHandle none(nullptr);
  std::vector<std::string> models;
  for (const auto& make : OverclockControllerCandidates()) models.push_back(make()->GetModel());
  EXPECT_EQ(models, (std::vector<std::string>{"ATXP3", "ATXP1"}));
  EXPECT_EQ(ATX1PIo().GetDescription(), "Attansic Jumper Free Over Clock Controller");
}

TEST(OverclockCore, OverrideZeroReadsTheBoardsOwnVoltageAndSetWritesTheCode) {
  Bench bench(TestBoard(kAtxp3, 1.525), "ZR865", false);
  auto controller = bench.Probed<ATX3PIo>();
  EXPECT_DOUBLE_EQ(controller->ReadCoreVoltage(), 1.525);
  EXPECT_EQ(bench.Traced(), (Trace{R(0, 0x00), R(1, 0x0D)}));
  bench.Clear();
  controller->SetCoreVoltage(1.6);
  EXPECT_DOUBLE_EQ(controller->ReadCoreVoltage(), 1.6);
  EXPECT_EQ(bench.Traced(), (Trace{W(0, 0x2A), R(0, 0x2A)}));
  EXPECT_DOUBLE_EQ(bench.Supply(sim::Supply::VCore), 1.6);
  bench.Clear();
  controller->RestoreCoreVoltage();
  EXPECT_EQ(bench.Traced(), (Trace{W(0, 0x2D)}));
}

TEST(OverclockCore, RaiseFollowsTheBoardsOwnVoltage) {
  struct Case {
    double vid;
    std::uint8_t written;
  };
  // 1.5 -> 1.65, 1.65 -> 1.7, 1.8 and 1.4 stay where they are.
  for (const Case& c : {Case{1.5, 0x28}, Case{1.65, 0x26}, Case{1.8, 0x22}, Case{1.4, 0x32}}) {
    SCOPED_TRACE(c.vid);
    Bench bench(TestBoard(kAtxp3, c.vid), "ZR865", false);
    auto controller = bench.Probed<ATX3PIo>();
    controller->RaiseCoreVoltage();
    EXPECT_EQ(bench.Traced(), (Trace{W(0, c.written)}));
  }
  EXPECT_DOUBLE_EQ(RaisedCoreVoltage(1.55), 1.675);
  EXPECT_DOUBLE_EQ(RaisedCoreVoltage(1.7), 1.85);
  EXPECT_DOUBLE_EQ(RaisedCoreVoltage(1.449), 1.449);
}

TEST(OverclockCore, VoltageBetweenEntriesNeverGoesAboveTheRequest) {
  struct Case {
    double volts;
    Trace trace;
  };
  const std::vector<Case> cases = {
      {1.6125, {W(0, 0x2A)}},  // 1.6
      {1.62, {W(0, 0x2A)}},
      {2.5, {W(0, 0x20)}},  // 1.85, the top of the table
      {1.07, {}},           // below the table: nothing
      {-1.0, {}},
      {std::numeric_limits<double>::quiet_NaN(), {}},
  };
  Bench bench(TestBoard(kAtxp3, 1.525), "ZR865", false);
  auto controller = bench.Probed<ATX3PIo>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.volts);
    bench.Clear();
    controller->SetCoreVoltage(c.volts);
    EXPECT_EQ(bench.Traced(), c.trace);
  }
}

TEST(OverclockCore, BoardsWhoseModelBeginsWithNTakeTheOverrideAtRegisterTen) {
  Bench bench("nforce2", "N2CR1", true);
  auto controller = bench.Probed<ATX1PIo>();
  controller->RestoreCoreVoltage();
  controller->RaiseCoreVoltage();
  EXPECT_DOUBLE_EQ(controller->ReadCoreVoltage(), 1.7);
  controller->SetCoreVoltage(1.6);
  EXPECT_EQ(bench.Traced(), (Trace{W(10, 0x28), W(10, 0x26), R(10, 0x26), W(10, 0x2A)}));
  EXPECT_DOUBLE_EQ(bench.Supply(sim::Supply::VCore), 1.6);
  // The same model elsewhere keeps register 0.
  Bench plain(TestBoard(kAtxp1, 1.65), "A7N8X", true);
  auto other = plain.Probed<ATX1PIo>();
  other->RaiseCoreVoltage();
  EXPECT_EQ(plain.Traced(), (Trace{W(0, 0x26)}));
}

TEST(OverclockMemory, TwoPinsOfTheDataRegisterPerModel) {
  struct Case {
    std::string type;
    bool atxp3;
    double volts;
    Trace trace;
  };
  const std::vector<Case> cases = {
      {kAtxp3, true, 2.6, {W(5, 0x00), R(6, 0xFF), W(6, 0xFD)}},
      {kAtxp1, false, 2.6, {W(5, 0x00), R(6, 0xFF), W(6, 0xFE)}},
      {kAtxp3, true, 2.75, {W(5, 0x00), R(6, 0xFF), W(6, 0xFB)}},  // 2.7
      {kAtxp3, true, 2.4, {}},                                     // below the table
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + std::to_string(c.volts));
    Bench bench(TestBoard(c.type, 1.65), "ZR865", !c.atxp3);
    auto controller = c.atxp3 ? bench.Probed<ATX3PIo>() : bench.Probed<ATX1PIo>();
    controller->SetMemoryVoltage(c.volts);
    EXPECT_EQ(bench.Traced(), c.trace);
  }
  Bench bench(TestBoard(kAtxp1, 1.65), "ZR865", true);
  auto controller = bench.Probed<ATX1PIo>();
  controller->RaiseMemoryVoltage();
  EXPECT_DOUBLE_EQ(controller->ReadMemoryVoltage(), 2.7);
  EXPECT_DOUBLE_EQ(bench.Supply(sim::Supply::VMem), 2.7);
  controller->RestoreMemoryVoltage();
  EXPECT_DOUBLE_EQ(bench.Supply(sim::Supply::VMem), 2.5);
}

TEST(OverclockBusLock, HeldOnceAcrossEachOperation) {
  Bench bench(TestBoard(kAtxp3, 1.525), "ZR865", false);
  auto controller = bench.Probed<ATX3PIo>();
  const std::uint64_t before = bench.semaphore.Acquisitions();
  controller->SetMemoryVoltage(2.7);
  controller->ReadCoreVoltage();
  const std::uint64_t first = before + 1;
  EXPECT_EQ(bench.recorder->locks, (std::vector<std::uint64_t>{first, first, first, first + 1, first + 1}));
  EXPECT_EQ(bench.semaphore.Acquisitions(), before + 2);
}

}  // namespace
}  // namespace rq::devices
