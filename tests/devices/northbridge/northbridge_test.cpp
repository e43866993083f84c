#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "devices/SystemFacts.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/northbridge/FakePciDriver.h"
#include "devices/northbridge/NorthBridges.h"

namespace rq::devices {
namespace {

using testing::FakePciDriver;

constexpr std::uint16_t kIntel = 0x8086;
constexpr std::uint16_t kVia = 0x1106;
constexpr std::uint16_t kSis = 0x1039;

class NorthBridgeTest : public ::testing::Test {
 protected:
  // Index in the detection order of the first candidate that recognises the board, or -1.
  int DetectedIndex() {
    const auto& candidates = NorthBridgeCandidates();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i]()->Detect()) return static_cast<int>(i);
    }
    return -1;
  }
  std::string DetectedModel() {
    const auto found = DetectFirst(NorthBridgeCandidates(), [](PciMchIo& chip) { return chip.Detect(); });
    return found ? found->GetModel() : "";
  }

  FakePciDriver driver_;
  hw::ScopedDriverHandle handle_{&driver_};
};

// ---- Detection ----

struct BoardIdentity {
  std::uint16_t vendor;
  std::uint16_t device;
  std::uint8_t revision;
  std::uint8_t e7;
  std::uint8_t e8;
  int expectedIndex;  // -1: no north bridge
  const char* expectedModel;
  const char* expectedDescription;
  bool expectedK7;
};

void PrintTo(const BoardIdentity& b, std::ostream* os) {
  *os << std::hex << b.vendor << ":" << b.device << " rev " << int(b.revision) << " E7 " << int(b.e7)
      << " E8 " << int(b.e8);
}

class DetectionTest : public NorthBridgeTest, public ::testing::WithParamInterface<BoardIdentity> {};

TEST_P(DetectionTest, FirstMatchInDetectionOrderIsTheExpectedChipset) {
  const BoardIdentity& board = GetParam();
  driver_.SetIdentity(board.vendor, board.device);
  driver_.SetHostByte(0x08, board.revision);
  driver_.SetHostByte(0xE7, board.e7);
  driver_.SetHostByte(0xE8, board.e8);

  ASSERT_EQ(DetectedIndex(), board.expectedIndex);
  if (board.expectedIndex < 0) {
    EXPECT_EQ(DetectedModel(), "");
    return;
  }
  const auto chip = NorthBridgeCandidates()[static_cast<std::size_t>(board.expectedIndex)]();
  EXPECT_EQ(chip->GetModel(), board.expectedModel);
  EXPECT_EQ(chip->GetDescription(), board.expectedDescription);
  EXPECT_EQ(chip->K7Platform(), board.expectedK7);
}

INSTANTIATE_TEST_SUITE_P(
    EveryChipset, DetectionTest,
    ::testing::Values(
        BoardIdentity{kIntel, 0x1A30, 0x11, 0, 0, 0, "Intel 845E MCH",
                      "Intel 845E Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x1A30, 0x04, 0, 0, 1, "Intel 845 MCH",
                      "Intel 845 Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x1A30, 0x00, 0, 0, 1, "Intel 845 MCH",
                      "Intel 845 Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2560, 0x01, 0xEF, 0, 2, "Intel 845G MCH",
                      "Intel 845G Memory Controller Hub for DDR", false},
        // Revision 1 with bit 4 of 0xE7 clear is a 845G whatever 0xE7/0xE8 say further on.
        BoardIdentity{kIntel, 0x2560, 0x01, 0x41, 0x21, 2, "Intel 845G MCH",
                      "Intel 845G Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2560, 0x01, 0x11, 0x0E, 3, "Intel 845GL MCH",
                      "Intel 845GL Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2560, 0x03, 0x41, 0x21, 4, "Intel 845GE MCH",
                      "Intel 845GE Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2560, 0x03, 0x11, 0x0B, 5, "Intel 845GV MCH",
                      "Intel 845GV Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2560, 0x02, 0x61, 0x21, 6, "Intel 845PE MCH",
                      "Intel 845PE Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2570, 0x02, 0x01, 0x00, 7, "Intel 865SDG MCH",
                      "Intel 865SDG Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2570, 0x02, 0x21, 0x00, 8, "Intel 865PE MCH",
                      "Intel 865PE Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2570, 0x02, 0xA1, 0x00, 9, "Intel 865P MCH",
                      "Intel 865P Memory Controller Hub for DDR", false},
        BoardIdentity{kIntel, 0x2578, 0x02, 0x55, 0x55, 10, "Intel 875P MCH",
                      "Intel 875P Memory Controller Hub for DDR", false},
        BoardIdentity{kVia, 0x3099, 0, 0, 0, 11, "VIA KT266(A)/333/400/600",
                      "VIA KT266(A)/KT333/KT400/KT600 North Bridge", true},
        BoardIdentity{kVia, 0x3189, 0, 0, 0, 11, "VIA KT266(A)/333/400/600",
                      "VIA KT266(A)/KT333/KT400/KT600 North Bridge", true},
        BoardIdentity{kVia, 0x3128, 0x01, 0, 0, 12, "VIA P4X266E", "VIA VT8753E North Bridge for DDR", false},
        BoardIdentity{kVia, 0x3148, 0, 0, 0, 13, "VIA P4M266(A)", "VIA VT8751(A) P4 DDR SMA North Bridge",
                      false},
        BoardIdentity{kVia, 0x3116, 0, 0, 0, 14, "VIA KM266", "VIA VT8375 North Bridge for DDR", true},
        BoardIdentity{kVia, 0x3168, 0, 0, 0, 15, "VIA P4X400", "VIA VT8754 North Bridge for DDR", false},
        BoardIdentity{kVia, 0x3205, 0, 0, 0, 16, "VIA KM400", "VIA VT8378 North Bridge for DDR", true},
        BoardIdentity{0x10DE, 0x01E0, 0, 0, 0, 17, "nVidia Crush 17/18",
                      "nVidia Crush 17/18 Memory Controller Hub", true},
        BoardIdentity{kSis, 0x0650, 0, 0, 0, 18, "SiS 650", "SiS 650 Memory Controller Hub", false},
        BoardIdentity{kSis, 0x0651, 0, 0, 0, 19, "SiS 651", "SiS 651 Memory Controller Hub", false},
        BoardIdentity{kSis, 0x0740, 0, 0, 0, 20, "SiS 740", "SiS 740 Memory Controller Hub", true},
        BoardIdentity{kSis, 0x0648, 0, 0, 0, 21, "SiS 648", "SiS 648 Memory Controller Hub", false}));

INSTANTIATE_TEST_SUITE_P(NoMatch, DetectionTest,
                         ::testing::Values(
                             // 845 revisions between the 845 and the 845E belong to neither.
                             BoardIdentity{kIntel, 0x1A30, 0x05, 0, 0, -1, "", "", false},
                             BoardIdentity{kIntel, 0x1A30, 0x10, 0, 0, -1, "", "", false},
                             BoardIdentity{kIntel, 0x1A30, 0x12, 0, 0, -1, "", "", false},
                             // 845G family: not revision 1 and an unknown capability pair.
                             BoardIdentity{kIntel, 0x2560, 0x02, 0x00, 0x00, -1, "", "", false},
                             BoardIdentity{kIntel, 0x2560, 0x03, 0x11, 0x21, -1, "", "", false},
                             // 865 family needs 0xE8 = 0.
                             BoardIdentity{kIntel, 0x2570, 0x02, 0x21, 0x01, -1, "", "", false},
                             BoardIdentity{kIntel, 0x2570, 0x02, 0x11, 0x00, -1, "", "", false},
                             BoardIdentity{kVia, 0x3128, 0x02, 0, 0, -1, "", "", false},
                             // A known device ID under another vendor.
                             BoardIdentity{kVia, 0x1A30, 0x11, 0, 0, -1, "", "", false},
                             BoardIdentity{kSis, 0x3099, 0, 0, 0, -1, "", "", false}));

TEST_F(NorthBridgeTest, ProbeReadsVendorFirstAndStopsAtTheFirstFailedTest) {
  using Read = FakePciDriver::Read;
  driver_.SetIdentity(kVia, 0x2560);
  EXPECT_FALSE(Intel845GMchIo().Detect());
  EXPECT_EQ(driver_.Reads(), (std::vector<Read>{{0, 0, 0, 0x00}}));

  driver_.ClearReads();
  driver_.SetIdentity(kIntel, 0x2570);
  EXPECT_FALSE(Intel845GMchIo().Detect());
  EXPECT_EQ(driver_.Reads(), (std::vector<Read>{{0, 0, 0, 0x00}, {0, 0, 0, 0x02}}));

  driver_.ClearReads();
  driver_.SetIdentity(kIntel, 0x2560);
  driver_.SetHostByte(0x08, 0x02);
  EXPECT_FALSE(Intel845GMchIo().Detect());
  EXPECT_EQ(driver_.Reads(), (std::vector<Read>{{0, 0, 0, 0x00}, {0, 0, 0, 0x02}, {0, 0, 0, 0x08}}));

  driver_.ClearReads();
  driver_.SetHostByte(0xE7, 0x12);
  EXPECT_FALSE(Intel845GLMchIo().Detect());
  EXPECT_EQ(driver_.Reads(), (std::vector<Read>{{0, 0, 0, 0x00}, {0, 0, 0, 0x02}, {0, 0, 0, 0xE7}}));
}

TEST(NorthBridgeWithoutDriver, NothingIsDetectedAndRatiosTakeTheZeroBranches) {
  hw::ScopedDriverHandle noDriver(nullptr);
  for (const auto& make : NorthBridgeCandidates()) EXPECT_FALSE(make()->Detect()) << make()->GetModel();

  // Registers read as 0: 100/100, index 0, no ratio bits.
  EXPECT_EQ(Intel845MchIo().GetMemoryClock(133.33), 133.3);
  EXPECT_EQ(Intel865SDGMchIo().GetMemoryClock(100.0), 133.0);
  EXPECT_EQ(VIAKT600_333_400_266Io().GetMemoryClock(166.66), 166.7);
  EXPECT_EQ(nVidiaC18Io().GetMemoryClock(133.33), 133.3);
  EXPECT_EQ(Sis648Io().GetMemoryClock(133.33), 133.3);
}

TEST_F(NorthBridgeTest, FailedRequestsDetectNothing) {
  driver_.SetIdentity(kIntel, 0x2578);
  EXPECT_EQ(DetectedModel(), "Intel 875P MCH");
  driver_.FailEveryRequest();
  EXPECT_EQ(DetectedIndex(), -1);
}

TEST(NorthBridgeCandidates, TwentyTwoDistinctChipsets) {
  const auto& candidates = NorthBridgeCandidates();
  ASSERT_EQ(candidates.size(), 22u);
  std::set<std::string> models;
  for (const auto& make : candidates) models.insert(make()->GetModel());
  EXPECT_EQ(models.size(), 22u);
}

// ---- Memory clocks ----

struct ClockCase {
  const char* name;
  std::function<std::unique_ptr<PciMchIo>()> make;
  std::function<void(FakePciDriver&)> registers;
  double fsb;
  double expected;
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name << " at " << c.fsb; }

class MemoryClockTest : public NorthBridgeTest, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(MemoryClockTest, FollowsTheRatioRegisters) {
  const ClockCase& c = GetParam();
  c.registers(driver_);
  EXPECT_EQ(c.make()->GetMemoryClock(c.fsb), c.expected);
}

auto HostWord(std::uint8_t reg, std::uint16_t value) {
  return [=](FakePciDriver& d) { d.SetHostWord(reg, value); };
}
auto HostBytes(std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> bytes) {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> list(bytes);
  return [=](FakePciDriver& d) {
    for (const auto& [reg, value] : list) d.SetHostByte(reg, value);
  };
}

template <typename T>
std::function<std::unique_ptr<PciMchIo>()> Chip() {
  return [] { return std::make_unique<T>(); };
}

INSTANTIATE_TEST_SUITE_P(
    Intel845, MemoryClockTest,
    ::testing::Values(
        ClockCase{"845 133/100", Chip<Intel845MchIo>(), HostWord(0xC6, 0x0800), 100.0, 133.0},
        ClockCase{"845 100/133", Chip<Intel845MchIo>(), HostWord(0xC6, 0x1000), 133.33, 100.2},
        ClockCase{"845 133/133", Chip<Intel845MchIo>(), HostWord(0xC6, 0x1800), 133.3, 133.3},
        ClockCase{"845 other bits ignored", Chip<Intel845MchIo>(), HostWord(0xC6, 0xE7FF), 100.04, 100.0},
        ClockCase{"845E over the limit", Chip<Intel845EMchIo>(), HostWord(0xC6, 0x0800), 133.3, 110.0},
        ClockCase{"845E whole MHz", Chip<Intel845EMchIo>(), HostWord(0xC6, 0x0800), 100.0, 133.0},
        ClockCase{"845E truncates", Chip<Intel845EMchIo>(), HostWord(0xC6, 0x0000), 100.7, 100.0},
        ClockCase{"845E just below", Chip<Intel845EMchIo>(), HostWord(0xC6, 0x0800), 112.0, 148.0},
        ClockCase{"845E at the limit", Chip<Intel845EMchIo>(), HostWord(0xC6, 0x0800), 112.1, 93.0}));

INSTANTIATE_TEST_SUITE_P(
    Intel845GFamily, MemoryClockTest,
    ::testing::Values(
        ClockCase{"845G 166/100", Chip<Intel845GMchIo>(), HostWord(0xC6, 0x0400), 100.0, 166.0},
        ClockCase{"845GL 133/100", Chip<Intel845GLMchIo>(), HostWord(0xC6, 0x0800), 100.0, 133.0},
        ClockCase{"845GE 100/100", Chip<Intel845GEMchIo>(), HostWord(0xC6, 0x0C00), 100.0, 100.0},
        ClockCase{"845GV 166/133", Chip<Intel845GVMchIo>(), HostWord(0xC6, 0x1400), 133.33, 166.4},
        ClockCase{"845PE 133/133", Chip<Intel845PEMchIo>(), HostWord(0xC6, 0x1800), 133.33, 133.3},
        ClockCase{"845PE 100/133", Chip<Intel845PEMchIo>(), HostWord(0xC6, 0x1000), 133.33, 100.2}));

INSTANTIATE_TEST_SUITE_P(
    Intel865Family, MemoryClockTest,
    ::testing::Values(
        ClockCase{"865SDG 00", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0C00), 100.0, 133.0},
        ClockCase{"865SDG 11", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0003), 100.0, 133.0},
        ClockCase{"865SDG 01 133", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0001), 200.0, 200.0},
        ClockCase{"865SDG 01 166", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0801), 200.0, 249.6},
        ClockCase{"865SDG 10 166", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0402), 200.0, 166.0},
        ClockCase{"865SDG 10 200", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0802), 200.0, 200.0},
        ClockCase{"865SDG 10 133", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0002), 200.0, 133.0},
        ClockCase{"865SDG 10 11", Chip<Intel865SDGMchIo>(), HostWord(0xC6, 0x0C02), 200.0, 133.0},
        ClockCase{"865PE 10 00", Chip<Intel865SDPEMchIo>(), HostWord(0xC6, 0x0002), 200.0, 166.0},
        ClockCase{"865PE 10 200", Chip<Intel865SDPEMchIo>(), HostWord(0xC6, 0x0802), 200.0, 200.0},
        ClockCase{"865P 10 11", Chip<Intel865SDPMchIo>(), HostWord(0xC6, 0x0C02), 200.0, 166.0},
        ClockCase{"865P 01 166", Chip<Intel865SDPMchIo>(), HostWord(0xC6, 0x0C01), 133.33, 166.4},
        ClockCase{"875P 10 01", Chip<Intel875PMchIo>(), HostWord(0xC6, 0x0402), 200.0, 166.0},
        ClockCase{"875P 00", Chip<Intel875PMchIo>(), HostWord(0xC6, 0x0000), 133.33, 177.3}));

using KT = VIAKT600_333_400_266Io;
INSTANTIATE_TEST_SUITE_P(
    Via, MemoryClockTest,
    ::testing::Values(
        ClockCase{"KT i8 R set", Chip<KT>(), HostBytes({{0x54, 0x80}, {0x69, 0x00}, {0x67, 0x80}}), 200.0,
                  166.0},
        ClockCase{"KT i8 R set", Chip<KT>(), HostBytes({{0x54, 0x80}, {0x69, 0x00}, {0x67, 0x80}}), 133.33,
                  110.7},
        ClockCase{"KT i8 R clear", Chip<KT>(), HostBytes({{0x54, 0x80}, {0x69, 0x00}, {0x67, 0x7F}}), 133.33,
                  133.3},
        ClockCase{"KT i12 R set", Chip<KT>(), HostBytes({{0x54, 0xC0}, {0x67, 0x80}}), 166.0, 133.0},
        ClockCase{"KT i12 R clear", Chip<KT>(), HostBytes({{0x54, 0xC0}}), 166.6, 166.6},
        ClockCase{"KT i1", Chip<KT>(), HostBytes({{0x69, 0x7F}}), 100.0, 133.0},
        ClockCase{"KT i2", Chip<KT>(), HostBytes({{0x69, 0x80}}), 100.0, 200.0},
        ClockCase{"KT i3", Chip<KT>(), HostBytes({{0x69, 0xC0}}), 100.0, 166.0},
        ClockCase{"KT i5", Chip<KT>(), HostBytes({{0x54, 0x40}, {0x69, 0x40}}), 133.33, 166.4},
        ClockCase{"KT i7", Chip<KT>(), HostBytes({{0x54, 0x40}, {0x69, 0xC0}}), 133.0, 200.0},
        ClockCase{"KT i10", Chip<KT>(), HostBytes({{0x54, 0x80}, {0x69, 0x80}}), 200.0, 133.0},
        ClockCase{"KT i13", Chip<KT>(), HostBytes({{0x54, 0xC0}, {0x69, 0x40}}), 166.0, 200.0},
        ClockCase{"KT i15", Chip<KT>(), HostBytes({{0x54, 0xC0}, {0x69, 0xC0}, {0x67, 0x80}}), 166.66, 166.7},
        ClockCase{"P4X400 i8 has no R", Chip<VIAP4X400EIo>(), HostBytes({{0x54, 0x80}, {0x67, 0x80}}), 200.0,
                  200.0},
        ClockCase{"P4X400 i7", Chip<VIAP4X400EIo>(), HostBytes({{0x54, 0x40}, {0x69, 0xC0}}), 133.0, 133.0},
        ClockCase{"P4X400 i6", Chip<VIAP4X400EIo>(), HostBytes({{0x54, 0x40}, {0x69, 0x80}}), 133.0, 200.0},
        ClockCase{"P4X400 i11", Chip<VIAP4X400EIo>(), HostBytes({{0x54, 0x80}, {0x69, 0xC0}}), 166.0, 166.0},
        ClockCase{"KM400 i11", Chip<VIAKM400Io>(), HostBytes({{0x54, 0x80}, {0x69, 0xC0}}), 166.0, 133.0},
        ClockCase{"KM400 i15", Chip<VIAKM400Io>(), HostBytes({{0x54, 0xC0}, {0x69, 0xC0}}), 166.0, 133.0},
        ClockCase{"KM400 i3", Chip<VIAKM400Io>(), HostBytes({{0x69, 0xC0}}), 100.0, 166.0},
        ClockCase{"P4X266E 133", Chip<VIAP4X266EIo>(), HostBytes({{0x69, 0x40}}), 133.33, 177.3},
        ClockCase{"P4X266E bit 7 alone", Chip<VIAP4X266EIo>(), HostBytes({{0x69, 0x80}}), 133.33, 133.3},
        ClockCase{"KM266 133", Chip<VIAKM266Io>(), HostBytes({{0x69, 0x40}}), 100.0, 133.0},
        ClockCase{"P4M266 133", Chip<VIAP4M266Io>(), HostBytes({{0x69, 0x40}, {0x54, 0x7F}}), 100.0, 133.0},
        ClockCase{"P4M266 synchronous", Chip<VIAP4M266Io>(), HostBytes({{0x69, 0x40}, {0x54, 0x80}}), 100.0,
                  100.0}));

auto Function3Word(std::uint16_t value) {
  return [=](FakePciDriver& d) {
    d.SetByte(3, 0x70, static_cast<std::uint8_t>(value));
    d.SetByte(3, 0x71, static_cast<std::uint8_t>(value >> 8));
    // The same offset of the host bridge must not be what is read.
    d.SetHostWord(0x70, 0x0011);
  };
}

INSTANTIATE_TEST_SUITE_P(
    NvidiaAndSis, MemoryClockTest,
    ::testing::Values(
        ClockCase{"C18 4/3", Chip<nVidiaC18Io>(), Function3Word(0x0043), 150.0, 200.0},
        ClockCase{"C18 5/4", Chip<nVidiaC18Io>(), Function3Word(0x0054), 133.33, 166.7},
        ClockCase{"C18 high byte ignored", Chip<nVidiaC18Io>(), Function3Word(0xFF32), 200.0, 300.0},
        ClockCase{"C18 zero denominator", Chip<nVidiaC18Io>(), Function3Word(0x0030), 133.33, 133.3},
        ClockCase{"C18 zero numerator", Chip<nVidiaC18Io>(), Function3Word(0x0005), 133.33, 133.3},
        ClockCase{"SiS650", Chip<Sis650Io>(), HostBytes({}), 133.33, 133.3},
        ClockCase{"SiS740", Chip<Sis740Io>(), HostBytes({}), 100.06, 100.1},
        ClockCase{"SiS648 synchronous bit", Chip<Sis648Io>(), HostBytes({{0x76, 0x24}}), 133.33, 133.3},
        ClockCase{"SiS648 x2", Chip<Sis648Io>(), HostBytes({{0x76, 0x07}}), 100.0, 200.0},
        ClockCase{"SiS648 x1.5", Chip<Sis648Io>(), HostBytes({{0x76, 0x08}}), 100.0, 150.0},
        ClockCase{"SiS648 x0.9", Chip<Sis648Io>(), HostBytes({{0x76, 0x0C}}), 100.0, 90.0},
        ClockCase{"SiS648 x4/3", Chip<Sis648Io>(), HostBytes({{0x76, 0x10}}), 100.0, 133.3},
        ClockCase{"SiS648 x5/3", Chip<Sis648Io>(), HostBytes({{0x76, 0x14}}), 100.0, 166.7},
        ClockCase{"SiS648 x1.25", Chip<Sis648Io>(), HostBytes({{0x76, 0x18}}), 100.0, 125.0},
        ClockCase{"SiS648 x1.2", Chip<Sis648Io>(), HostBytes({{0x76, 0x1C}}), 100.0, 120.0},
        ClockCase{"SiS648 unknown", Chip<Sis648Io>(), HostBytes({{0x76, 0x3C}}), 133.33, 133.3},
        ClockCase{"SiS648 high bits", Chip<Sis648Io>(), HostBytes({{0x76, 0xC4}}), 100.0, 200.0}));

// ---- SiS 651 and the clock generator ----

class FakeClockGenerator : public I2cClockGenIo {
 public:
  MOCK_METHOD(unsigned, GetCpuDivider, (), (override));
  MOCK_METHOD(unsigned, GetAgpDivider, (), (override));
  MOCK_METHOD(unsigned, GetPciDivider, (), (override));
  MOCK_METHOD(unsigned, GetPllM, (), (override));
  MOCK_METHOD(unsigned, GetPllN, (), (override));
  MOCK_METHOD(bool, Detect, (), (override));
  MOCK_METHOD(void, SetWatchdogTime, (int), (override));
  MOCK_METHOD(void, EnableWatchdog, (bool), (override));
  MOCK_METHOD(double, GetDefaultFsb, (), (override));
  MOCK_METHOD(void, SetFsb, (double), (override));
  MOCK_METHOD(double, GetFsb, (), (override));
  MOCK_METHOD(double, GetAgpClock, (double), (override));
  MOCK_METHOD(double, GetPciClock, (double), (override));
  MOCK_METHOD(double, GetMemRefClock, (), (override));
};

class Sis651Test : public NorthBridgeTest {
 protected:
  void TearDown() override { CurrentSystem().clockGenerator = nullptr; }
  ::testing::NiceMock<FakeClockGenerator> clockGenerator_;
};

TEST_F(Sis651Test, ScalesTheMemoryReferenceClockByTheFsb) {
  ON_CALL(clockGenerator_, GetMemRefClock()).WillByDefault(::testing::Return(166.0));
  ON_CALL(clockGenerator_, GetDefaultFsb()).WillByDefault(::testing::Return(133.0));
  CurrentSystem().clockGenerator = &clockGenerator_;
  EXPECT_EQ(Sis651Io().GetMemoryClock(140.0), 174.7);
  EXPECT_EQ(Sis651Io().GetMemoryClock(133.0), 166.0);
}

TEST_F(Sis651Test, WithoutAUsableClockGeneratorMemoryIsAtTheFsb) {
  EXPECT_EQ(Sis651Io().GetMemoryClock(133.33), 133.3);

  ON_CALL(clockGenerator_, GetMemRefClock()).WillByDefault(::testing::Return(166.0));
  ON_CALL(clockGenerator_, GetDefaultFsb()).WillByDefault(::testing::Return(0.0));
  CurrentSystem().clockGenerator = &clockGenerator_;
  EXPECT_EQ(Sis651Io().GetMemoryClock(133.33), 133.3);
}

}  // namespace
}  // namespace rq::devices
