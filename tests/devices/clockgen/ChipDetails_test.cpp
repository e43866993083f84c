// The register-level facts of individual parts: identification, frequency-select
// decoding, N and watchdog encodings, divider bands and the edges of the PLL fields.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "ClockGenBench.h"
#include "devices/Rounding.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"

namespace rq::devices::testing {
namespace {

const Platform kIntelP4{103, true, false, ""};
const Platform kViaK7{302, true, true, ""};
const Platform kViaP4{303, true, false, ""};
const Platform kSisQav{501, true, false, "QAV"};

TEST(Ics950218, DetectionNeedsIdIntelHostAndNonK7NorthBridge) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  EXPECT_EQ(bench.Reg(8), 0x0F);
  EXPECT_TRUE(bench.Make<ICS950218Io>()->Detect());
  EXPECT_EQ(bench.Reg(8), 0x17) << "detection opens the whole block";

  bench.platform.hostKind = 302;  // a VIA host: register 7 still reads 0x28
  EXPECT_EQ(bench.Reg(7), 0x28);
  EXPECT_FALSE(bench.Make<ICS950218Io>()->Detect());

  Bench k7("ics950218", {31, 0}, {103, true, true, ""});
  EXPECT_FALSE(k7.Make<ICS950218Io>()->Detect());
  Bench other("cy28323", {29, 0}, kIntelP4);
  EXPECT_FALSE(other.Make<ICS950218Io>()->Detect());
}

TEST(Ics950218, DefaultFsbFromSoftwareOrLatchedSelect) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);  // latched index 31
  bench.Poke(0, 0x84);                      // software select, index 8 | 16
  EXPECT_EQ(chip->GetDefaultFsb(), 66.8);
  bench.Poke(0, 0x00);
  bench.Poke(1, 0x1F);
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);
  bench.Poke(0, 0x90);  // software select, index 9, low half
  EXPECT_EQ(chip->GetDefaultFsb(), 130.0);
}

TEST(Ics950218, SetFsbWritesOnlyN) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  bench.Poke(11, 0x05);  // M = 5
  ASSERT_EQ(chip->GetCpuDivider(), 2U);
  ASSERT_EQ(chip->GetPllM(), 5U);
  chip->SetFsb(150.0);
  EXPECT_EQ(bench.Reg(12), 0x8B);  // N = 139
  EXPECT_EQ(bench.Reg(11), 0x05);  // bit 8 of N clear, M kept
  EXPECT_EQ(chip->GetPllN(), 139U);
  EXPECT_EQ(chip->GetFsb(), 150.3);
  EXPECT_NEAR(bench.outputs.fsb, 150.3, 0.05);
  chip->SetFsb(280.0);  // N = 266 needs the ninth bit
  EXPECT_EQ(bench.Reg(11), 0x85);
  EXPECT_EQ(bench.Reg(12), 266 - 256);
  EXPECT_EQ(chip->GetPllN(), 266U);
}

TEST(Ics950218, OutOfRangeTargetsClampInsteadOfWrapping) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  bench.Poke(11, 0x05);
  chip->SetFsb(2.0);  // N would be negative
  EXPECT_EQ(chip->GetPllN(), 0U);
  EXPECT_EQ(chip->GetFsb(), RoundTo(14.31818 * 8 / 2 / 7, 1));
  chip->SetFsb(5000.0);  // N would need more than nine bits
  EXPECT_EQ(chip->GetPllN(), 511U);
  const double before = chip->GetFsb();
  chip->SetFsb(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(chip->GetFsb(), before);
}

TEST(Ics950218, WatchdogRegisters) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  bench.Poke(10, 0x05);
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(9), 137);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(10), 0x45);
  EXPECT_EQ(bench.outputs.timeout, std::chrono::milliseconds(137 * 290));
  EXPECT_TRUE(bench.outputs.enabled);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(10), 0x05);
  chip->SetWatchdogTime(1000);  // saturates rather than wrapping to a short time
  EXPECT_EQ(bench.Reg(9), 255);
}

TEST(Ics950218, DividersAndDerivedClocks) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetAgpDivider(), 4U);
  EXPECT_EQ(chip->GetPciDivider(), 8U);
  EXPECT_EQ(chip->GetAgpClock(133.3), 66.7);
  EXPECT_EQ(chip->GetPciClock(133.3), 33.3);
  EXPECT_EQ(chip->GetMemRefClock(), 0.0);
  bench.Poke(16, 0x0E);  // Table A[14] = 40, only the low nibble counts here
  bench.Poke(17, 0x1B);  // Table B[11] = 36
  EXPECT_EQ(chip->GetAgpDivider(), 40U);
  EXPECT_EQ(chip->GetPciDivider(), 36U);
}

// A part whose CPU divider reads 0 reports no clock rather than dividing by zero.
class ZeroDividerIcs : public ICS950218Io {
 public:
  using ICS950218Io::ICS950218Io;
  unsigned GetCpuDivider() override { return 0; }
  unsigned GetAgpDivider() override { return 0; }
  unsigned GetPciDivider() override { return 0; }
};

TEST(Ics950218, ZeroDividersGiveZeroClocks) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  ZeroDividerIcs chip(bench.Bus());
  EXPECT_EQ(chip.GetFsb(), 0.0);
  EXPECT_EQ(chip.GetAgpClock(133.3), 0.0);
  EXPECT_EQ(chip.GetPciClock(133.3), 0.0);
}

TEST(Ics950218, FailedTransfersReadAsZeroRegisters) {
  Bench bench("ics950218", {31, 0}, kIntelP4);
  ICS950218Io chip(ClockGenBus{std::make_unique<DirectI2CIo>(nullptr), 103});
  EXPECT_FALSE(chip.Detect());
  EXPECT_EQ(chip.GetCpuDivider(), 2U);  // Table A[0]
  EXPECT_EQ(chip.GetPllM(), 0U);
  EXPECT_EQ(chip.GetPllN(), 0U);
  EXPECT_EQ(chip.GetFsb(), RoundTo(14.31818 * 8 / 2 / 2, 1));
  EXPECT_EQ(chip.GetDefaultFsb(), 102.0);  // latched index 0
}

TEST(IcsHubs, IdentificationRegisters) {
  Bench p4("ics950905", {31, 0}, kViaP4);
  EXPECT_TRUE(p4.Make<ICS950905Io>()->Detect());
  EXPECT_EQ(p4.Reg(8), 0x17);
  EXPECT_FALSE(p4.Make<ICS950910Io>()->Detect()) << "register 6 is not 0x01 nor register 7 0x10";
  Bench hub("ics950910", {25, 0}, kViaP4);
  EXPECT_FALSE(hub.Make<ICS950905Io>()->Detect());
  EXPECT_TRUE(hub.Make<ICS950910Io>()->Detect());
  Bench k7("ics94228", {-1, 133.3}, {301, true, true, ""});
  EXPECT_TRUE(k7.Make<ICS94228Io>()->Detect());
  EXPECT_EQ(k7.Reg(8), 0x0F) << "the K7 part keeps its byte count";
}

TEST(IcsHubs, DefaultFromTheSelectNibbleAndItsHighHalf) {
  Bench bench("ics950905", {10, 0}, kViaP4);
  auto chip = bench.Make<ICS950905Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.9);
  bench.Poke(1, 0x04);  // high half: index 26
  EXPECT_EQ(chip->GetDefaultFsb(), 133.6);
  bench.Poke(4, 0xB0);  // index 27
  EXPECT_EQ(chip->GetDefaultFsb(), 200.4);
  EXPECT_EQ(chip->GetAgpDivider(), 4U) << "the hubs read the AGP divider from the high nibble";
}

TEST(IcsHubs, Ics950910WritesNWithProgrammingEnable) {
  Bench bench("ics950910", {25, 0}, kViaP4);
  auto chip = bench.Make<ICS950910Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);  // 133.33
  EXPECT_EQ(bench.Reg(10) & 0x80, 0);
  chip->SetFsb(140.0);
  EXPECT_EQ(bench.Reg(10) & 0x80, 0x80);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(10) & 0xE0, 0xE0);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(10) & 0xE0, 0x80) << "only the two watchdog bits are cleared";
}

TEST(Ics94228, NSplitOverRegisters9And10AndFixedWatchdog) {
  Bench bench("ics94228", {-1, 133.3}, {301, true, true, ""});
  auto chip = bench.Make<ICS94228Io>();
  ASSERT_TRUE(chip->Detect());
  bench.Poke(9, 0x05);  // M = 5
  chip->SetFsb(150.0);  // N = 139: odd, so bit 7 of register 9 is set
  EXPECT_EQ(bench.Reg(9), 0x85);
  EXPECT_EQ(bench.Reg(10), 69);
  EXPECT_EQ(chip->GetPllN(), 139U);
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(4), 0x7F);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(4), 0xFF);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(4), 0x44);
}

TEST(Ics94228, DefaultFollowsTheBusClassOfTheRunningClock) {
  Bench bench("ics94228", {-1, 133.3}, {301, true, true, ""});
  auto chip = bench.Make<ICS94228Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.0);
  chip->SetFsb(100.0);
  EXPECT_EQ(chip->GetDefaultFsb(), 100.0);
  chip->SetFsb(170.0);
  EXPECT_EQ(chip->GetDefaultFsb(), 166.0);
  chip->SetFsb(90.0);
  EXPECT_EQ(chip->GetDefaultFsb(), 200.0);
  chip->SetFsb(130.5);  // between the 100 and 133 classes: the faster one
  EXPECT_EQ(chip->GetDefaultFsb(), 133.0);
  EXPECT_EQ(chip->GetAgpDivider(), 4U);
  EXPECT_EQ(chip->GetPciDivider(), 8U);
}

TEST(IcsSisBoard, GatesOnBoardModelAndWatchdogPorts) {
  Bench bench("ics952005", {4, 0}, {501, true, false, "QAV"});
  auto chip = bench.Make<ICS952005Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(bench.lastController->transfers, 0) << "nothing to identify on the wire";
  bench.platform.boardModel = "QAVPRO";
  CurrentSystem().boardModel = "QAVPRO";
  EXPECT_FALSE(bench.Make<ICS952005Io>()->Detect()) << "the token must match exactly";

  chip->SetWatchdogTime(40);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.outputs.timeout, std::chrono::seconds(40));
  EXPECT_TRUE(bench.outputs.enabled);
  chip->EnableWatchdog(false);
  EXPECT_FALSE(bench.outputs.enabled);
}

TEST(IcsSisBoard, Ics952005DefaultAndPllWrite) {
  Bench bench("ics952005", {4, 0}, {501, true, false, "QAV"});
  auto chip = bench.Make<ICS952005Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.6);
  bench.Poke(4, 0x94);                      // index 9 + 16
  EXPECT_EQ(chip->GetDefaultFsb(), 200.1);  // 200.05
  chip->SetFsb(145.0);
  EXPECT_EQ(bench.Reg(8), 3) << "byte count set for the PLL block";
  EXPECT_EQ(bench.Reg(10) & 0x80, 0x80);
  EXPECT_NEAR(chip->GetFsb(), 145.0, 0.55);
  EXPECT_EQ(chip->GetAgpDivider(), 4U);
  EXPECT_EQ(chip->GetPciDivider(), 4U);
  EXPECT_EQ(chip->GetAgpClock(145.0), 72.5);  // twice the FSB over the divider
  EXPECT_EQ(chip->GetPciClock(145.0), 36.3);
}

TEST(IcsSisBoard, Ics952001DetectionPreparesTheChipAndMemoryReference) {
  Bench bench("ics952001", {-1, 133.3}, {501, true, false, "QIR"});
  auto chip = bench.Make<ICS952001Io>();
  EXPECT_EQ(bench.Reg(10) & 0x80, 0);
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(bench.Reg(10) & 0x80, 0x80);
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);
  EXPECT_EQ(chip->GetMemRefClock(), 132.0);
  chip->SetFsb(100.0);
  EXPECT_EQ(bench.Reg(8), 2);
  EXPECT_EQ(chip->GetDefaultFsb(), 100.0);
  EXPECT_EQ(chip->GetMemRefClock(), 100.0);
  chip->SetFsb(80.0);
  EXPECT_NEAR(chip->GetDefaultFsb(), 80.0, 0.55) << "below every class the clock stands for itself";
}

TEST(CypressByteMode, W312PllWriteAndWatchdog) {
  Bench bench("w312", {31, 0}, kViaK7);
  auto chip = bench.Make<CYPW312Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.0);
  chip->SetFsb(133.3);
  EXPECT_EQ(bench.Reg(13), 0x82);
  EXPECT_EQ(bench.Reg(14), 0xAD);
  EXPECT_EQ(chip->GetFsb(), 133.0);
  chip->SetFsb(120.0);  // finer M below 130 MHz
  EXPECT_EQ(bench.Reg(14), 0x80 | 93);
  EXPECT_EQ(chip->GetDefaultFsb(), 133.0) << "the strap still names the power-on clock";

  bench.Poke(4, 0xC0);
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(4) & 0x3F, 0x21);
  EXPECT_EQ(bench.Reg(4) & 0xC0, 0xC0);
  chip->SetWatchdogTime(3);  // 20 units of 150 ms
  EXPECT_EQ(bench.Reg(4) & 0x3F, 40);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(9), 0x16);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(9), 0x04);
}

// The fastest clock each PLL layout makes: its count at the top of the field.
TEST(AllLayouts, HighestFsbIsTheLargestPllCount) {
  Bench ics("ics950218", {31, 0}, kIntelP4);
  auto ics950218 = ics.Make<ICS950218Io>();
  ASSERT_TRUE(ics950218->Detect());
  ics.Poke(15, 0x00);                            // CPU divider 2
  ics.Poke(11, 0x05);                            // M 5
  EXPECT_EQ(ics950218->GetHighestFsb(), 530.8);  // 14.31818 x 519 / 2 / 7

  Bench byteMode("cy28325", {31, 0}, kViaP4);
  EXPECT_EQ(byteMode.Make<CYPCY28325Io>()->GetHighestFsb(), 258.0);    // 48.00741 x 258 / 48
  Bench cy28405("cy28405", {10, 0}, kIntelP4);                         // strapped 133.6 MHz
  EXPECT_EQ(cy28405.Make<CYPCY28405Io>()->GetHighestFsb(), 340.7);     // 511 x 31.9989666 / 48
  Bench cy28405Low("cy28405", {0, 0}, kIntelP4);                       // strapped 100.7 MHz
  EXPECT_EQ(cy28405Low.Make<CYPCY28405Io>()->GetHighestFsb(), 255.5);  // 511 x 23.9992252 / 48
  Bench cy28341("cy28341", {3, 0}, kViaK7);
  EXPECT_EQ(cy28341.Make<CYPCY28341Io>()->GetHighestFsb(), 254.0);  // 96.016 x 127 / 48
}

// In programmed mode the select register still holds the latched strap: the
// default is the class of its entry, wherever the PLL now runs.
TEST(CypressByteMode, DefaultIsTheStrapInProgrammedModeToo) {
  struct Case {
    const char* type;
    Platform platform;
    std::unique_ptr<I2cClockGenIo> (*make)(Bench&);
    std::uint8_t selectRegister;
    std::uint8_t select;
    std::uint8_t pllN;
    std::uint8_t pllM;
    double expected;
  };
  const Case cases[] = {
      // entry 29 (166.6 MHz), PLL at 128 MHz (N 253, M 93)
      {"w312", kViaK7, [](Bench& b) -> std::unique_ptr<I2cClockGenIo> { return b.Make<CYPW312Io>(); }, 5,
       0xE8, 0xFD, 0xDD, 167.0},
      // entry 29 (100 MHz), PLL at 140 MHz (N 137, M 45)
      {"cy28323", kIntelP4, [](Bench& b) -> std::unique_ptr<I2cClockGenIo> { return b.Make<CYPCY28323Io>(); },
       5, 0xE8, 0x89, 0xAD, 100.0},
      // entry 31 (133.3 MHz), PLL at 128 MHz
      {"cy28325", kViaP4, [](Bench& b) -> std::unique_ptr<I2cClockGenIo> { return b.Make<CYPCY28325Io>(); },
       15, 0xF8, 0xFD, 0xDD, 133.0},
  };
  for (const Case& c : cases) {
    Bench bench(c.type, {29, 0}, c.platform);
    auto chip = c.make(bench);
    ASSERT_TRUE(chip->Detect()) << c.type;
    bench.Poke(c.selectRegister, c.select);
    bench.Poke(13, c.pllN);
    bench.Poke(14, c.pllM);
    EXPECT_EQ(chip->GetDefaultFsb(), c.expected) << c.type;
    EXPECT_TRUE(chip->ReportsPowerOnFsb()) << c.type;
  }
}

TEST(CypressByteMode, Cy28325DividersAt130) {
  Bench bench("cy28325", {9, 0}, kViaP4);
  auto chip = bench.Make<CYPCY28325Io>();
  ASSERT_TRUE(chip->Detect());
  ASSERT_EQ(chip->GetFsb(), 130.0);
  EXPECT_EQ(chip->GetAgpDivider(), 7U);
  EXPECT_EQ(chip->GetPciDivider(), 14U);
  EXPECT_EQ(chip->GetAgpClock(130.0), RoundTo(130.0 * 4 / 7, 1));
  EXPECT_EQ(chip->GetDefaultFsb(), 133.0);
}

TEST(CypressByteMode, Cy28349Differences) {
  Bench bench("cy28349", {26, 0}, {103, true, false, "KOLGRA"});
  auto chip = bench.Make<CYPCY28349Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.6);
  chip->SetFsb(110.0);
  EXPECT_EQ(bench.Reg(14), 0xAD) << "M is always 45";
  EXPECT_EQ(bench.Reg(10), 0x10);
  EXPECT_EQ(chip->GetAgpClock(110.0), 66.6);
  EXPECT_EQ(chip->GetPciClock(110.0), 33.3);
  bench.Poke(8, 0xC0);
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(8), 0x21) << "the long unit clears bits 6 and 7";
  chip->EnableWatchdog(true);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(9), 0x00);
}

TEST(CypressByteMode, NClampsToItsByte) {
  Bench bench("cy28323", {29, 0}, {101, true, false, ""});
  auto chip = bench.Make<CYPCY28323Io>();
  ASSERT_TRUE(chip->Detect());
  chip->SetFsb(900.0);
  EXPECT_EQ(bench.Reg(13), 255);
  chip->SetFsb(-10.0);
  EXPECT_EQ(bench.Reg(13), 0);
}

TEST(Cy28405, NReadBackMatchesItsSplitAndTargetsInAnyClassLand) {
  Bench bench("cy28405", {25, 0}, {102, true, false, ""});
  auto chip = bench.Make<CYPCY28405Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.9);
  chip->SetFsb(150.0);  // b = trunc(150 x 48 / 31.999 + 1) = 226, even
  EXPECT_EQ(bench.Reg(12), 113);
  EXPECT_EQ(bench.Reg(13), 0x30);
  EXPECT_EQ(bench.Reg(14) & 0x01, 0x01);
  EXPECT_EQ(chip->GetPllN(), 226U);
  EXPECT_EQ(chip->GetPllM(), 48U);
  chip->SetFsb(151.0);  // 227, odd
  EXPECT_EQ(bench.Reg(13), 0xB0);
  EXPECT_EQ(chip->GetPllN(), 227U);
  for (double target : {90.0, 125.5, 166.5, 180.0}) {
    chip->SetFsb(target);
    // Truncating after adding one lands up to one step (K / 48) above the target.
    EXPECT_GE(chip->GetFsb(), target - 0.05) << target;
    EXPECT_LE(chip->GetFsb(), target + 31.9989666 / 48 + 0.05) << target;
    EXPECT_NEAR(bench.outputs.fsb, chip->GetFsb(), 0.05) << target;
  }
  EXPECT_EQ(chip->GetAgpClock(180.0), 66.7);
  EXPECT_EQ(chip->GetPciClock(180.0), 33.3);
}

TEST(Cy28405, WatchdogRegister11) {
  Bench bench("cy28405", {25, 0}, {102, true, false, ""});
  auto chip = bench.Make<CYPCY28405Io>();
  ASSERT_TRUE(chip->Detect());
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(11), 0);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(11), 0x7F);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(11), 0);
}

TEST(Cy28341, SharedReferenceTableFallbackAndClasses) {
  Bench bench("cy28341", {3, 0}, kViaK7);
  auto chip = bench.Make<CYPCY28341Io>();
  ASSERT_TRUE(chip->Detect());
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);
  chip->SetFsb(150.0);
  EXPECT_EQ(bench.Reg(7), 75);
  EXPECT_EQ(bench.Reg(9), 0x61);
  EXPECT_EQ(chip->GetFsb(), 150.0);
  chip->SetFsb(1000.0);
  EXPECT_EQ(bench.Reg(7), 127) << "N is seven bits: clamped, not wrapped";
  chip->SetFsb(0.0);
  EXPECT_EQ(bench.Reg(7), 1);
  bench.Poke(7, 0);     // no N: the frequency-select entry stands
  bench.Poke(0, 0x52);  // index 5 with bit 1: 5 | 8 = 13
  EXPECT_EQ(chip->GetFsb(), 100.0);
  EXPECT_EQ(chip->GetDefaultFsb(), 100.0);
  chip->SetFsb(160.0);
  EXPECT_EQ(chip->GetDefaultFsb(), 100.0) << "the strap, not the class of the running clock";
  EXPECT_EQ(chip->GetAgpDivider(), 5U);
  bench.Poke(0, 0x30);  // index 3 (133.3), PLL at 160 MHz (N 80, M 48)
  bench.Poke(7, 0x50);
  bench.Poke(9, 0x61);
  EXPECT_EQ(chip->GetDefaultFsb(), 133.3);
  chip->SetWatchdogTime(40);
  EXPECT_EQ(bench.Reg(6), 0);
  chip->EnableWatchdog(true);
  EXPECT_EQ(bench.Reg(6), 0x0F);
  chip->EnableWatchdog(false);
  EXPECT_EQ(bench.Reg(6), 0x80);
}

// Every code of the two divider tables the register-programmed ICS parts read:
// the CPU and AGP dividers from Table A, the PCI divider from Table B.
TEST(Ics950218, EveryDividerCodeNamesItsDivider) {
  const unsigned tableA[16] = {2, 3, 5, 7, 4, 6, 10, 14, 8, 12, 20, 28, 16, 24, 40, 56};
  const unsigned tableB[16] = {4, 3, 5, 9, 8, 6, 10, 18, 16, 12, 20, 36, 32, 24, 40, 72};
  Bench bench("ics950218", {31, 0}, kIntelP4);
  auto chip = bench.Make<ICS950218Io>();
  ASSERT_TRUE(chip->Detect());
  for (std::uint8_t code = 0; code < 16; ++code) {
    bench.Poke(15, code);
    bench.Poke(16, code);
    bench.Poke(17, code);
    EXPECT_EQ(chip->GetCpuDivider(), tableA[code]) << "code " << int{code};
    EXPECT_EQ(chip->GetAgpDivider(), tableA[code]) << "code " << int{code};
    EXPECT_EQ(chip->GetPciDivider(), tableB[code]) << "code " << int{code};
  }
}

template <typename Driver>
std::unique_ptr<I2cClockGenIo> MakeAs(Bench& bench) {
  return bench.Make<Driver>();
}

// Every frequency-select setting of the parts that report their entry as it
// stands, in 0.1 MHz. Duplicated entries are separate settings, each checked.
TEST(AllSelectTables, EverySettingNamesItsFrequency) {
  using Select = void (*)(Bench&, unsigned index);
  struct Case {
    const char* type;
    Platform platform;
    std::unique_ptr<I2cClockGenIo> (*make)(Bench&);
    Select select;
    std::vector<double> expected;  // by setting
  };
  const Select ics950218Select = [](Bench& b, unsigned i) {  // the latched index, no software select
    b.Poke(0, 0x00);
    b.Poke(1, static_cast<std::uint8_t>(i));
  };
  const Select hubSelect = [](Bench& b, unsigned i) {
    b.Poke(4, static_cast<std::uint8_t>((i & 0x0F) << 4));
    b.Poke(1, i >= 16 ? 0x04 : 0x00);
  };
  const Select ics952005Select = [](Bench& b, unsigned i) {
    b.Poke(4, static_cast<std::uint8_t>((i & 0x0F) << 4 | (i >= 16 ? 0x04 : 0x00)));
  };
  const Select register0Select = [](Bench& b, unsigned i) { b.Poke(0, static_cast<std::uint8_t>(i)); };
  const Select w312Select = [](Bench& b, unsigned i) { b.Poke(5, static_cast<std::uint8_t>(i << 3)); };
  const Select cy28341Select = [](Bench& b, unsigned i) {
    b.Poke(7, 0);
    b.Poke(0, static_cast<std::uint8_t>(i << 4));
  };
  const Case cases[] = {
      {"ics950218",
       kIntelP4,
       MakeAs<ICS950218Io>,
       ics950218Select,                                                                            //
       {102, 105, 108,   111, 114, 117, 120, 123, 126,  130,   136,   140,   144,  148, 152, 156,  //
        160, 164, 166.6, 170, 175, 180, 185, 190, 66.8, 100.2, 133.6, 200.4, 66.6, 100, 200, 133.3}},
      {"ics950905",
       kViaP4,
       MakeAs<ICS950905Io>,
       hubSelect,                                                                                  //
       {102, 105, 108,   111, 114, 117, 120, 123, 126,  130,   133.9, 140,   144,  148, 152, 156,  //
        160, 164, 166.6, 170, 175, 180, 185, 190, 66.8, 100.9, 133.6, 200.4, 66.6, 100, 200, 133.3}},
      {"ics950910",
       kViaP4,
       MakeAs<ICS950910Io>,
       hubSelect,                                                                                    //
       {102, 105, 108, 111, 114, 117,   120, 123,   126, 130,   133.9, 140,   144, 148,   152, 156,  //
        105, 140, 210, 175, 80,  106.7, 160, 133.3, 100, 133.3, 200,   166.7, 100, 133.3, 200, 166.7}},
      {"ics9428",
       kViaP4,
       MakeAs<ICS9428Io>,
       hubSelect,  //
       {66.7, 100,   166.7, 133.3, 66.7,  100,   100,   133.3,
        112,  124,   138,   150,   66.7,  133.3, 150,   160,  //
        90,   100.9, 103,   133.9, 137.3, 137.3, 100.9, 133.9,
        107,  107,   142.7, 110,   110,   146.7, 166.7, 200}},
      {"ics952005",
       kSisQav,
       MakeAs<ICS952005Io>,
       ics952005Select,  //
       {100.2, 100.2, 100.2, 100.2, 133.6, 133.6, 133.6, 133.6,
        200.1, 200.1, 200.1, 200.1, 166.7, 166.7, 166.0, 166.7,  //
        100.2, 100.2, 100.2, 100.2, 133.6, 133.6, 133.6, 133.6,
        200.1, 200.1, 200.1, 200.1, 166.7, 166.7, 166.0, 166.7}},
      {"cy28405",
       kIntelP4,
       MakeAs<CYPCY28405Io>,
       register0Select,  //
       {100.7, 100.2, 108,   101.2, 114,   117,   120, 123,
        125.7, 130.3, 133.6, 134.2, 134.5, 148,   152, 156,  //
        160,   164,   167.4, 170,   175,   180,   185, 190,
        100.9, 133.9, 200.9, 166.9, 100,   133.3, 200, 166.7}},
      {"cy28349",
       kIntelP4,
       MakeAs<CYPCY28349Io>,
       register0Select,                                                                                    //
       {100.7, 100.9, 108,   101.2, 114, 117, 120, 123, 126,   130,   133.9, 134.2, 134.5, 148, 152, 156,  //
        160,   164,   167.4, 170,   175, 180, 185, 190, 166.8, 100.2, 133.6, 200.4, 166.6, 100, 200, 133.3}},
      // The byte-mode parts report the bus class of their entry.
      {"w312",
       kViaK7,
       MakeAs<CYPW312Io>,
       w312Select,                                                                       //
       {133, 133, 133, 133, 133, 133, 133, 133, 100, 100, 100, 100, 100, 100, 100, 100,  //
        100, 100, 100, 167, 167, 167, 167, 133, 133, 100, 100, 100, 167, 167, 100, 133}},
      // With no N the PLL does not run, and the entry itself is the clock.
      {"cy28341",
       kViaK7,
       MakeAs<CYPCY28341Io>,
       cy28341Select,  //
       {66.8, 100, 120, 133.3, 72, 105, 160, 140, 77, 110, 180, 166.6, 90, 100, 200, 133.3}},
  };
  for (const Case& c : cases) {
    Bench bench(c.type, {0, 0}, c.platform);
    auto chip = c.make(bench);
    // One sequence around the sweep: the Cypress parts' quiet time is paid once.
    clockgen::BusSequence sweep;
    for (unsigned i = 0; i < c.expected.size(); ++i) {
      c.select(bench, i);
      EXPECT_EQ(chip->GetDefaultFsb(), c.expected[i]) << c.type << " setting " << i;
    }
  }
}

}  // namespace
}  // namespace rq::devices::testing
