// Reading the derived clocks at once: the same values the single reads give, from
// each chip register read once, in one bus sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ClockGenBench.h"
#include "devices/Candidates.h"
#include "devices/SystemFacts.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"
#include "devices/northbridge/PciMchIo.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"

namespace rq::devices::testing {
namespace {

struct BoardClocks {
  const char* profile;
  const char* boardModel;
  DerivedClocks powerOn;
  DerivedClocks at97;  // after SetFsb(97)
};

void ExpectClocks(const DerivedClocks& got, const DerivedClocks& want, const char* when) {
  EXPECT_EQ(got.fsb, want.fsb) << when;
  EXPECT_EQ(got.agp, want.agp) << when;
  EXPECT_EQ(got.pci, want.pci) << when;
}

struct GoneDriver final : hw::DriverHandle {
  bool DeviceIoControl(std::uint32_t, std::uint8_t*, std::uint32_t) override { return false; }
  bool Connected() const override { return false; }
};

class ReadClocksOnShippedBoards : public ::testing::TestWithParam<BoardClocks> {};

TEST_P(ReadClocksOnShippedBoards, GiveTheClocksOfTheSingleReads) {
  const BoardClocks& c = GetParam();
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped(c.profile, time);
  driver::InProcessDriverHandle handle(*board);
  hw::ScopedDriverHandle scope(&handle);
  const hw::SmbusHostState savedHost = hw::ProcessSmbusHost();
  hw::ProcessSmbusHost() = {};
  auto northBridge = DetectFirst(NorthBridgeCandidates(), [](PciMchIo& nb) { return nb.Detect(); });
  platform::BusSemaphore semaphore;
  const SystemFacts saved = CurrentSystem();
  CurrentSystem() = BoardFacts(semaphore, northBridge.get(), c.boardModel);
  auto chip =
      DetectFirst(ClockGeneratorCandidates(c.boardModel), [](I2cClockGenIo& g) { return g.Detect(); });
  ASSERT_NE(chip, nullptr);
  for (const auto& [target, want] : {std::pair{0.0, c.powerOn}, std::pair{97.0, c.at97}}) {
    if (target > 0.0) chip->SetFsb(target);
    ExpectClocks(chip->ReadClocks(), want, "at once");
    const double fsb = chip->GetFsb();
    ExpectClocks({fsb, chip->GetAgpClock(fsb), chip->GetPciClock(fsb)}, want, "one by one");
  }
  GoneDriver gone;  // zeroed registers are no reading (they made a stalled daemon's "28.60")
  hw::ScopedDriverHandle stalled(&gone);
  EXPECT_FALSE(chip->ReadClocks().read);
  CurrentSystem() = saved;
  hw::ProcessSmbusHost() = savedHost;
}

INSTANTIATE_TEST_SUITE_P(
    ClockGenerators, ReadClocksOnShippedBoards,
    ::testing::Values(BoardClocks{"default", "ZR865", {133.3, 66.7, 33.3}, {96.9, 48.5, 24.2}},
                      BoardClocks{"kolgra", "KOLGRA", {200, 66.6, 33.3}, {97, 66.6, 33.3}},
                      BoardClocks{"cg-ics950905", "BP4X4", {133.3, 66.7, 33.3}, {96.9, 48.5, 24.2}},
                      BoardClocks{"cg-ics950910", "CP4M2", {133.3, 66.7, 33.3}, {96.6, 48.3, 24.2}},
                      BoardClocks{"cg-ics94228", "DKT60", {133.3, 66.7, 33.3}, {96.9, 64.6, 32.3}},
                      BoardClocks{"cg-ics9428", "QEM", {133.3, 66.7, 33.3}, {96.6, 48.3, 24.2}},
                      BoardClocks{"cg-ics952005", "QAV", {133.6, 66.8, 33.4}, {97, 64.7, 32.3}},
                      BoardClocks{"cg-ics952001", "QIR", {133.3, 66.7, 33.3}, {96.9, 64.6, 32.3}},
                      BoardClocks{"cg-w312", "EKT40", {167, 66.8, 33.4}, {97, 64.7, 32.3}},
                      BoardClocks{"cg-cy28323", "F845P", {100, 66.7, 33.3}, {97, 64.7, 32.3}},
                      BoardClocks{"cg-cy28325", "GP4X2", {133, 76, 38}, {97, 64.7, 32.3}},
                      BoardClocks{"cg-cy28405", "H875P", {200, 66.7, 33.3}, {98, 66.7, 33.3}},
                      BoardClocks{"cg-cy28341", "JKM40", {134, 67, 33.5}, {96, 64, 32}}),
    [](const ::testing::TestParamInfo<BoardClocks>& param) {
      std::string name = param.param.profile;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

struct TransferCase {
  const char* simType;
  sim::ClockGenStrap strap;
  Platform platform;
  std::function<std::unique_ptr<I2cClockGenIo>(ClockGenBus)> make;
  int transfers;
};

template <typename T>
std::function<std::unique_ptr<I2cClockGenIo>(ClockGenBus)> Driver() {
  return
      [](ClockGenBus bus) -> std::unique_ptr<I2cClockGenIo> { return std::make_unique<T>(std::move(bus)); };
}

class ReadClocksTransfers : public ::testing::TestWithParam<TransferCase> {};

TEST_P(ReadClocksTransfers, ReadEachRegisterOnceInOneSequence) {
  const TransferCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto chip = c.make(bench.Bus());
  ASSERT_TRUE(chip->Detect());
  const int before = bench.lastController->transfers;
  chip->ReadClocks();
  EXPECT_EQ(bench.lastController->transfers - before, c.transfers);
}

INSTANTIATE_TEST_SUITE_P(
    ClockGenerators, ReadClocksTransfers,
    ::testing::Values(
        TransferCase{"ics950218", {31, 0}, {103, true, false, ""}, Driver<ICS950218Io>(), 4},
        TransferCase{"ics950905", {31, 0}, {302, true, false, ""}, Driver<ICS950905Io>(), 1},
        TransferCase{"ics950910", {25, 0}, {303, true, false, ""}, Driver<ICS950910Io>(), 1},
        TransferCase{"ics94228", {-1, 133.3}, {301, true, true, ""}, Driver<ICS94228Io>(), 1},
        TransferCase{"ics9428", {3, 0}, {501, true, true, "QEM"}, Driver<ICS9428Io>(), 1},
        TransferCase{"ics952005", {4, 0}, {501, true, false, "QAV"}, Driver<ICS952005Io>(), 2},
        TransferCase{"ics952001", {-1, 133.3}, {501, true, false, "QIR"}, Driver<ICS952001Io>(), 2},
        TransferCase{"w312", {31, 0}, {302, true, true, ""}, Driver<CYPW312Io>(), 2},
        TransferCase{"cy28323", {29, 0}, {101, true, false, ""}, Driver<CYPCY28323Io>(), 2},
        TransferCase{"cy28325", {9, 0}, {303, true, false, ""}, Driver<CYPCY28325Io>(), 2},
        TransferCase{"cy28405", {25, 0}, {102, true, true, ""}, Driver<CYPCY28405Io>(), 3},
        TransferCase{"cy28341", {3, 0}, {302, true, true, ""}, Driver<CYPCY28341Io>(), 2},
        TransferCase{"cy28349", {26, 0}, {103, true, false, "KOLGRA"}, Driver<CYPCY28349Io>(), 2}));

// On the first read, starts a rival that wants the bus, and records how many reads
// had been made when the rival got it.
class RivalOnFirstRead : public DirectI2CIo {
 public:
  using DirectI2CIo::DirectI2CIo;
  ~RivalOnFirstRead() override { Finish(); }
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override {
    Touch();
    return DirectI2CIo::ReadBlock(buffer, start, count);
  }
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override {
    Touch();
    return DirectI2CIo::ReadByte(value, command);
  }
  void Finish() {
    if (rival_.joinable()) rival_.join();
  }

  std::atomic<int> reads{0};
  int readsWhenRivalGotBus = -1;

 private:
  void Touch() {
    ++reads;
    if (rival_.joinable()) return;
    rival_ = std::thread([this] {
      SmbusLock lock;
      readsWhenRivalGotBus = reads.load();
    });
    // Time for the rival to barge in between two sequences, were there two.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  std::thread rival_;
};

TEST(ReadClocksBusLock, OneSequenceHoldsTheBusForTheWholeReading) {
  for (const TransferCase& c :
       {TransferCase{"ics950218", {31, 0}, {103, true, false, ""}, Driver<ICS950218Io>(), 4},
        TransferCase{"cy28405", {25, 0}, {102, true, true, ""}, Driver<CYPCY28405Io>(), 3}}) {
    Bench bench(c.simType, c.strap, c.platform);
    auto controller = std::make_unique<RivalOnFirstRead>(bench.chip.get());
    RivalOnFirstRead* rival = controller.get();
    auto chip = c.make(ClockGenBus{std::move(controller), c.platform.hostKind});
    chip->ReadClocks();
    rival->Finish();
    EXPECT_EQ(rival->readsWhenRivalGotBus, c.transfers) << c.simType;
  }
}

}  // namespace
}  // namespace rq::devices::testing
