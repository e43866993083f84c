// The clock generators on whole virtual boards: which host the probe finds, the
// candidate order, and the watchdog bringing a hung board back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "ClockGenBench.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"
#include "devices/northbridge/PciMchIo.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"

namespace rq::devices::testing {
namespace {

// Runs the host probe against a shipped board and puts the process state back.
class OnBoard {
 public:
  explicit OnBoard(const std::string& profile)
      : board(sim::Board::Shipped(profile, time)),
        handle_(*board),
        scope_(&handle_),
        saved_(hw::ProcessSmbusHost()) {
    hw::ProcessSmbusHost() = {};
  }
  ~OnBoard() { hw::ProcessSmbusHost() = saved_; }

  sim::ManualTimeSource time;
  std::unique_ptr<sim::Board> board;

 private:
  driver::InProcessDriverHandle handle_;
  hw::ScopedDriverHandle scope_;
  hw::SmbusHostState saved_;
};

TEST(ClockGenBusProbe, ControllerForEveryHostButTheNvidiaOne) {
  {
    OnBoard machine("default");
    ClockGenBus bus = OpenClockGenBus();
    EXPECT_EQ(bus.hostKind, hw::kHostIntelICH5);
    ASSERT_NE(bus.controller, nullptr);
    EXPECT_EQ(bus.controller->DeviceAddress(), 0xD2);
  }
  {
    OnBoard machine("nforce2");
    ClockGenBus bus = OpenClockGenBus();
    EXPECT_EQ(bus.hostKind, hw::kHostNVidiaMCP);
    EXPECT_EQ(bus.controller, nullptr);
    for (const auto& make : ClockGeneratorCandidates("N2CR1")) EXPECT_FALSE(make()->Detect());
  }
}

TEST(ClockGenBusProbe, NoDriverNoHost) {
  hw::ScopedDriverHandle none(nullptr);
  const hw::SmbusHostState saved = hw::ProcessSmbusHost();
  hw::ProcessSmbusHost() = {};
  ClockGenBus bus = OpenClockGenBus();
  EXPECT_EQ(bus.controller, nullptr);
  EXPECT_EQ(bus.hostKind, hw::kHostNone);
  hw::ProcessSmbusHost() = saved;
}

std::vector<std::string> CandidateModels(const std::string& boardModel) {
  hw::ScopedDriverHandle none(nullptr);  // no host: the objects are built but never reach a bus
  std::vector<std::string> models;
  for (const auto& make : ClockGeneratorCandidates(boardModel)) models.push_back(make()->GetModel());
  return models;
}

TEST(ClockGeneratorCandidates, ProbeOrderFollowsTheBoardModel) {
  const std::vector<std::string> plain = {"ICS950218", "ICS950905", "ICS950910", "ICS94228",
                                          "ICS9428",   "ICS952001", "W312-02",   "CY28323",
                                          "CY28325",   "CY28405",   "CY28341"};
  EXPECT_EQ(CandidateModels("ZR865"), plain);
  std::vector<std::string> qav = plain;
  qav.insert(qav.begin() + 5, "ICS952005");
  EXPECT_EQ(CandidateModels("QAV84"), qav);
  EXPECT_EQ(CandidateModels("QAV"), qav);
  for (const char* model : {"KOLGRA", "KOLGra", "VEX800"}) {
    std::vector<std::string> swapped = plain;
    swapped[7] = "CY28349";
    EXPECT_EQ(CandidateModels(model), swapped) << model;
  }
  EXPECT_EQ(CandidateModels("KOLGRAX"), plain);
}

// The watchdog story on the default board's own chip: a clock beyond what the CPU
// survives hangs the machine, and the armed watchdog resets it to its power-on clock.
TEST(OnTheDefaultBoard, ArmedWatchdogBringsAHungBoardBack) {
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped("default", time);
  auto* chip = board->Smbus().Find(sim::ClockGenChip::kAddress);
  ASSERT_NE(chip, nullptr);
  FakeNorthBridge northBridge(false);
  platform::BusSemaphore semaphore;
  const SystemFacts saved = CurrentSystem();
  CurrentSystem() = BoardFacts(semaphore, &northBridge, "ZR865");

  ICS950218Io driver(ClockGenBus{std::make_unique<DirectI2CIo>(chip), hw::kHostIntelICH5});
  ASSERT_TRUE(driver.Detect());
  EXPECT_EQ(driver.GetDefaultFsb(), 133.3);
  EXPECT_NEAR(driver.GetFsb(), board->Processor().Fsb(), 0.05);

  driver.SetWatchdogTime(40);
  driver.EnableWatchdog(true);
  EXPECT_TRUE(board->Dog().Enabled());
  driver.SetFsb(145.0);
  EXPECT_FALSE(board->Hung());
  EXPECT_NEAR(board->Processor().Fsb(), driver.GetFsb(), 0.05);
  driver.SetFsb(155.0);
  EXPECT_TRUE(board->Hung());

  time.Advance(std::chrono::seconds(39));
  board->Tick();
  EXPECT_TRUE(board->Hung());
  time.Advance(std::chrono::seconds(2));
  board->Tick();
  EXPECT_FALSE(board->Hung());
  EXPECT_EQ(board->ResetCount(), 1U);
  EXPECT_NEAR(board->Processor().Fsb(), 133.3, 0.05);
  EXPECT_FALSE(board->Dog().Enabled());
  EXPECT_EQ(driver.GetFsb(), 133.3);
  CurrentSystem() = saved;
}

TEST(ShippedBoards, EveryClockGeneratorTypeSitsOnSomeBoard) {
  std::set<std::string> seen;
  sim::ManualTimeSource time;
  for (const std::string& name : sim::Board::ShippedNames()) {
    auto board = sim::Board::Shipped(name, time);
    if (auto* chip = dynamic_cast<sim::ClockGenChip*>(board->Smbus().Find(sim::ClockGenChip::kAddress))) {
      seen.insert(chip->Name());
    }
  }
  for (const std::string& type : sim::ClockGenChipTypes()) EXPECT_TRUE(seen.contains(type)) << type;
}

struct BoardCase {
  const char* profile;
  const char* boardModel;  // what the BIOS string of the profile yields
  const char* expected;    // model string of the part the probe must keep
};

class ProbeOnShippedBoards : public ::testing::TestWithParam<BoardCase> {};

// The probe order, the identification registers and the platform gates together
// pick exactly the part each board carries, through the board's own SMBus host;
// the part found then sets and reads the clock the board's CPU runs at.
TEST_P(ProbeOnShippedBoards, FindsTheBoardsPartAndDrivesItsClockThroughTheHost) {
  const BoardCase& c = GetParam();
  OnBoard machine(c.profile);
  auto northBridge = DetectFirst(NorthBridgeCandidates(), [](PciMchIo& nb) { return nb.Detect(); });
  ASSERT_NE(northBridge, nullptr);
  platform::BusSemaphore semaphore;
  const SystemFacts saved = CurrentSystem();
  CurrentSystem() = BoardFacts(semaphore, northBridge.get(), c.boardModel);

  auto found =
      DetectFirst(ClockGeneratorCandidates(c.boardModel), [](I2cClockGenIo& g) { return g.Detect(); });
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetModel(), c.expected);
  sim::Cpu& cpu = machine.board->Processor();
  EXPECT_NEAR(found->GetFsb(), cpu.Fsb(), 0.6);
  const double target = std::floor(cpu.Fsb()) + 5.0;
  found->SetFsb(target);
  const double readBack = found->GetFsb();
  EXPECT_NEAR(readBack, target, 1.05);
  EXPECT_NEAR(cpu.Fsb(), readBack, 0.05 + 1e-9);
  EXPECT_FALSE(machine.board->Hung());
  CurrentSystem() = saved;
}

INSTANTIATE_TEST_SUITE_P(
    ClockGenerators, ProbeOnShippedBoards,
    ::testing::Values(
        BoardCase{"default", "ZR865", "ICS950218"}, BoardCase{"kolgra", "KOLGRA", "CY28349"},
        BoardCase{"cg-ics950905", "BP4X4", "ICS950905"}, BoardCase{"cg-ics950910", "CP4M2", "ICS950910"},
        BoardCase{"cg-ics94228", "DKT60", "ICS94228"}, BoardCase{"cg-ics9428", "QEM", "ICS9428"},
        BoardCase{"cg-ics952005", "QAV", "ICS952005"}, BoardCase{"cg-ics952001", "QIR", "ICS952001"},
        BoardCase{"cg-w312", "EKT40", "W312-02"}, BoardCase{"cg-cy28323", "F845P", "CY28323"},
        BoardCase{"cg-cy28325", "GP4X2", "CY28325"}, BoardCase{"cg-cy28405", "H875P", "CY28405"},
        BoardCase{"cg-cy28341", "JKM40", "CY28341"}),
    [](const ::testing::TestParamInfo<BoardCase>& param) {
      std::string name = param.param.profile;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace
}  // namespace rq::devices::testing
