// Every part, on a platform its gates accept: detection, set-then-read agreement,
// and the board really running at the clock read back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ClockGenBench.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"

namespace rq::devices::testing {
namespace {

struct ChipCase {
  const char* name;
  const char* simType;
  sim::ClockGenStrap strap;
  Platform platform;
  std::function<std::unique_ptr<I2cClockGenIo>(ClockGenBus)> make;
  double resolution;  // largest set-to-read difference the part's PLL steps allow
  const char* model;
};

template <typename T>
std::function<std::unique_ptr<I2cClockGenIo>(ClockGenBus)> Driver() {
  return
      [](ClockGenBus bus) -> std::unique_ptr<I2cClockGenIo> { return std::make_unique<T>(std::move(bus)); };
}

int HostFamily(std::int16_t kind) { return kind >= 100 && kind < 700 ? (kind - 100) / 200 : -1; }

const std::vector<ChipCase>& Cases() {
  static const std::vector<ChipCase> cases = {
      {"ICS950218", "ics950218", {31, 0}, {103, true, false, ""}, Driver<ICS950218Io>(), 0.55, "ICS950218"},
      {"ICS950905", "ics950905", {31, 0}, {302, true, false, ""}, Driver<ICS950905Io>(), 0.55, "ICS950905"},
      {"ICS950910", "ics950910", {25, 0}, {303, true, false, ""}, Driver<ICS950910Io>(), 0.55, "ICS950910"},
      {"ICS94228", "ics94228", {-1, 133.3}, {301, true, true, ""}, Driver<ICS94228Io>(), 0.55, "ICS94228"},
      {"ICS9428", "ics9428", {3, 0}, {501, true, true, "QEM"}, Driver<ICS9428Io>(), 0.55, "ICS9428"},
      {"ICS952005", "ics952005", {4, 0}, {501, true, false, "QAV"}, Driver<ICS952005Io>(), 0.55, "ICS952005"},
      {"ICS952001",
       "ics952001",
       {-1, 133.3},
       {501, true, false, "QIR"},
       Driver<ICS952001Io>(),
       0.55,
       "ICS952001"},
      {"W312", "w312", {31, 0}, {302, true, true, ""}, Driver<CYPW312Io>(), 0.55, "W312-02"},
      {"CY28323", "cy28323", {29, 0}, {101, true, false, ""}, Driver<CYPCY28323Io>(), 0.55, "CY28323"},
      {"CY28325", "cy28325", {9, 0}, {303, true, false, ""}, Driver<CYPCY28325Io>(), 0.55, "CY28325"},
      {"CY28405", "cy28405", {25, 0}, {102, true, true, ""}, Driver<CYPCY28405Io>(), 0.75, "CY28405"},
      {"CY28341", "cy28341", {3, 0}, {302, true, true, ""}, Driver<CYPCY28341Io>(), 1.05, "CY28341"},
      {"CY28349", "cy28349", {26, 0}, {103, true, false, "KOLGRA"}, Driver<CYPCY28349Io>(), 0.55, "CY28349"},
  };
  return cases;
}

class AllChips : public ::testing::TestWithParam<ChipCase> {};

TEST_P(AllChips, IsDetectedOnItsPlatformAndReadsItsPowerOnClock) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto driver = c.make(bench.Bus());
  ASSERT_TRUE(driver->Detect());
  EXPECT_EQ(driver->GetModel(), c.model);
  EXPECT_FALSE(driver->GetDescription().empty());
  EXPECT_NEAR(driver->GetFsb(), bench.chip->BusClock(), c.resolution);
  EXPECT_NEAR(driver->GetFsb(), bench.outputs.fsb, c.resolution);
  EXPECT_GT(driver->GetDefaultFsb(), 60.0);
}

TEST_P(AllChips, SetThenGetAgreesAndTheBoardRunsAtTheClockReadBack) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto driver = c.make(bench.Bus());
  ASSERT_TRUE(driver->Detect());
  for (double target : {100.0, 112.0, 133.3, 140.0, 151.0, 166.6, 175.0, 200.0}) {
    SCOPED_TRACE(target);
    driver->SetFsb(target);
    const double readBack = driver->GetFsb();
    EXPECT_NEAR(readBack, target, c.resolution);
    // The read-back is rounded to one decimal; the CPU runs at the exact PLL output.
    EXPECT_NEAR(bench.outputs.fsb, readBack, 0.05 + 1e-9);
    EXPECT_EQ(readBack, std::round(readBack * 10) / 10);
  }
}

TEST_P(AllChips, StepsOfOneMegahertzMoveTheClockMonotonically) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto driver = c.make(bench.Bus());
  ASSERT_TRUE(driver->Detect());
  // Each step must be followed, not merely never reversed: a clock that stays put
  // falls behind the target. Parts finer than 1 MHz must rise on every step.
  double previous = 0.0;
  for (int target = 125; target <= 137; ++target) {  // across the Cypress M switch at 129
    SCOPED_TRACE(target);
    driver->SetFsb(target);
    const double now = driver->GetFsb();
    EXPECT_NEAR(now, target, c.resolution);
    if (c.resolution < 1.0) {
      EXPECT_GT(now, previous);
    } else {
      EXPECT_GE(now, previous);
    }
    previous = now;
  }
}

TEST_P(AllChips, WatchdogArmsAndDisarmsTheBoardWatchdog) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto driver = c.make(bench.Bus());
  ASSERT_TRUE(driver->Detect());
  driver->SetWatchdogTime(40);
  driver->EnableWatchdog(true);
  EXPECT_TRUE(bench.outputs.enabled);
  // Every part counts somewhere between half a minute and a little over 40 s.
  EXPECT_GE(bench.outputs.timeout, std::chrono::seconds(30));
  EXPECT_LE(bench.outputs.timeout, std::chrono::milliseconds(41000));
  driver->EnableWatchdog(false);
  EXPECT_FALSE(bench.outputs.enabled);
  // The watchdog thread re-arms by switching off and on.
  const int before = bench.outputs.enableChanges;
  driver->EnableWatchdog(false);
  driver->EnableWatchdog(true);
  EXPECT_TRUE(bench.outputs.enabled);
  EXPECT_EQ(bench.outputs.enableChanges, before + 1);
}

TEST_P(AllChips, PowerOnResetBringsBackThePowerOnClock) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  auto driver = c.make(bench.Bus());
  ASSERT_TRUE(driver->Detect());
  const double powerOn = bench.chip->BusClock();
  const double defaultFsb = driver->GetDefaultFsb();
  driver->SetFsb(150.0);
  ASSERT_NE(bench.chip->BusClock(), powerOn);
  bench.chip->PowerOnReset();
  EXPECT_EQ(bench.outputs.fsb, powerOn);
  EXPECT_NEAR(driver->GetFsb(), powerOn, c.resolution);
  EXPECT_EQ(driver->GetDefaultFsb(), defaultFsb);
}

TEST_P(AllChips, NoSupportedHostMeansNotDetected) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  // No controller at all: the probe found no host, or one that carries no clock generator.
  for (std::int16_t kind : {std::int16_t{0}, std::int16_t{901}, c.platform.hostKind}) {
    EXPECT_FALSE(c.make(ClockGenBus{nullptr, kind})->Detect()) << kind;
  }
  // A controller on the nVidia host kind still fails the host gate.
  bench.platform.hostKind = 901;
  EXPECT_FALSE(c.make(bench.Bus())->Detect());
}

TEST_P(AllChips, WrongHostFamilyOrMissingNorthBridgeIsNotDetected) {
  const ChipCase& c = GetParam();
  Bench bench(c.simType, c.strap, c.platform);
  const std::int16_t home = c.platform.hostKind;
  for (std::int16_t other : {std::int16_t{103}, std::int16_t{302}, std::int16_t{501}, std::int16_t{901}}) {
    if (HostFamily(other) == HostFamily(home)) continue;
    bench.platform.hostKind = other;
    EXPECT_FALSE(c.make(bench.Bus())->Detect()) << other;
  }
  bench.platform.hostKind = home;
  CurrentSystem().northBridge = nullptr;
  EXPECT_FALSE(c.make(bench.Bus())->Detect());
}

INSTANTIATE_TEST_SUITE_P(ClockGenerators, AllChips, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ChipCase>& param) { return param.param.name; });

}  // namespace
}  // namespace rq::devices::testing
