#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/Rounding.h"
#include "devices/northbridge/NorthBridges.h"
#include "sim/Board.h"
#include "sim/northbridge/NorthBridge.h"
#include "support/InProcessDriverHandle.h"

namespace rq::devices {
namespace {

// A board carrying only what a north bridge needs, plus the chip entry under test.
std::string Profile(const std::string& northBridge) {
  return "name = \"nb-test\"\n[bios]\nmodel = \"NB-TEST 1.0\"\n"
         "[cpu]\nmultiplier = 10\nmax_stable_fsb = 250.0\npower_on_fsb = 133.3\n"
         "[[chip]]\ntype = \"northbridge\"\n" +
         northBridge + "\n";
}

class VirtualNorthBridgeTest : public ::testing::Test {
 protected:
  void Load(const std::string& northBridge) {
    handle_.reset();
    board_ = sim::Board::FromProfileText(Profile(northBridge), time_);
    driver_ = std::make_unique<driver::InProcessDriverHandle>(*board_);
    handle_ = std::make_unique<hw::ScopedDriverHandle>(driver_.get());
  }
  std::unique_ptr<PciMchIo> Detected() {
    return DetectFirst(NorthBridgeCandidates(), [](PciMchIo& chip) { return chip.Detect(); });
  }
  std::string DetectedModel() {
    const auto chip = Detected();
    return chip ? chip->GetModel() : "";
  }
  double MemoryClock(double fsb) {
    const auto chip = Detected();
    return chip ? chip->GetMemoryClock(fsb) : -1;
  }

  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
  std::unique_ptr<driver::InProcessDriverHandle> driver_;
  std::unique_ptr<hw::ScopedDriverHandle> handle_;
};

struct ModelCase {
  const char* simModel;
  const char* model;
};

constexpr ModelCase kModels[] = {
    {"i845e", "Intel 845E MCH"},
    {"i845", "Intel 845 MCH"},
    {"i845g", "Intel 845G MCH"},
    {"i845gl", "Intel 845GL MCH"},
    {"i845ge", "Intel 845GE MCH"},
    {"i845gv", "Intel 845GV MCH"},
    {"i845pe", "Intel 845PE MCH"},
    {"i865sdg", "Intel 865SDG MCH"},
    {"i865pe", "Intel 865PE MCH"},
    {"i865p", "Intel 865P MCH"},
    {"i875p", "Intel 875P MCH"},
    {"via-kt266", "VIA KT266(A)/333/400/600"},
    {"via-kt400", "VIA KT266(A)/333/400/600"},
    {"via-p4x266e", "VIA P4X266E"},
    {"via-p4m266", "VIA P4M266(A)"},
    {"via-km266", "VIA KM266"},
    {"via-p4x400", "VIA P4X400"},
    {"via-km400", "VIA KM400"},
    {"nvidia-c18", "nVidia Crush 17/18"},
    {"sis650", "SiS 650"},
    {"sis651", "SiS 651"},
    {"sis740", "SiS 740"},
    {"sis648", "SiS 648"},
};

TEST_F(VirtualNorthBridgeTest, EveryModelIsDetectedAsItsOwnChipset) {
  ASSERT_EQ(std::size(kModels), sim::NorthBridgeModelNames().size());
  for (const ModelCase& c : kModels) {
    Load(std::string("model = \"") + c.simModel + "\"");
    EXPECT_EQ(DetectedModel(), c.model) << c.simModel;
  }
}

TEST_F(VirtualNorthBridgeTest, Intel845RevisionsBetweenThe845AndThe845EMatchNeither) {
  for (int revision = 0; revision <= 0x12; ++revision) {
    Load("model = \"i845\"\nrevision = " + std::to_string(revision));
    const std::string expected = revision <= 4 ? "Intel 845 MCH" : revision == 0x11 ? "Intel 845E MCH" : "";
    EXPECT_EQ(DetectedModel(), expected) << "revision " << revision;
  }
}

TEST_F(VirtualNorthBridgeTest, CapabilityBytesSelectThe845GFamilyMember) {
  Load("model = \"i845ge\"\nrevision = 1");
  EXPECT_EQ(DetectedModel(), "Intel 845G MCH");  // revision 1 with bit 4 of 0xE7 clear comes first
  Load("model = \"i845g\"\nbytes = { 0xE7 = 0x10 }");
  EXPECT_EQ(DetectedModel(), "");
  Load("model = \"i865pe\"\nbytes = { 0xE8 = 0x01 }");
  EXPECT_EQ(DetectedModel(), "");
}

// Every ratio each virtual model can hold reads back, through the program's
// decoder, as FSB × ratio.
struct RatioCase {
  const char* simModel;
  std::vector<const char*> ratios;
};

long double Value(const std::string& ratio) {
  const auto slash = ratio.find('/');
  return std::stold(ratio.substr(0, slash)) / std::stold(ratio.substr(slash + 1));
}

TEST_F(VirtualNorthBridgeTest, EveryRatioSettingReadsBackThroughTheDecoder) {
  const RatioCase cases[] = {
      {"i845", {"100/100", "133/100", "100/133", "133/133"}},
      {"i845g", {"100/100", "166/100", "133/100", "100/133", "166/133", "133/133"}},
      {"i845pe", {"166/100", "166/133"}},
      {"i865sdg", {"133/100", "133/133", "166/133", "133/200", "166/200", "200/200"}},
      {"i865p", {"133/100", "133/133", "166/133", "166/200", "200/200"}},
      {"i875p", {"166/200"}},
      {"via-kt266",
       {"1/1", "133/100", "200/100", "166/100", "166/133", "200/133", "166/200", "133/200", "133/166",
        "200/166"}},
      {"via-p4x400", {"1/1", "133/100", "200/100", "166/100", "166/133", "200/133"}},
      {"via-km400", {"133/166", "200/133"}},
      {"via-p4x266e", {"1/1", "133/100"}},
      {"via-km266", {"133/100"}},
      {"via-p4m266", {"1/1", "133/100"}},
      {"nvidia-c18", {"1/1", "4/3", "5/4", "3/2", "15/14"}},
      {"sis650", {"1/1"}},
      {"sis740", {"1/1"}},
      {"sis648", {"1/1", "2/1", "3/2", "9/10", "4/3", "5/3", "5/4", "6/5"}},
  };
  for (const RatioCase& c : cases) {
    for (const char* ratio : c.ratios) {
      Load(std::string("model = \"") + c.simModel + "\"\nmemory_ratio = \"" + ratio + "\"");
      for (double fsb : {100.0, 133.33, 166.7}) {
        EXPECT_EQ(MemoryClock(fsb), RoundToDouble(fsb * Value(ratio), 1))
            << c.simModel << " " << ratio << " " << fsb;
      }
    }
  }
}

TEST_F(VirtualNorthBridgeTest, WorkedExamples) {
  Load("model = \"i845e\"\nmemory_ratio = \"133/100\"");
  EXPECT_EQ(MemoryClock(133.3), 110.0);
  EXPECT_EQ(MemoryClock(100.0), 133.0);

  Load("model = \"via-kt400\"\nmemory_ratio = \"166/200\"");  // B = 10, A = 00, bit 7 of 0x67 set
  EXPECT_EQ(MemoryClock(200.0), 166.0);
  Load("model = \"via-kt400\"\nmemory_ratio = \"166/200\"\nbytes = { 0x67 = 0x00 }");
  EXPECT_EQ(MemoryClock(200.0), 200.0);

  Load("model = \"sis648\"\nmemory_ratio = \"1/1\"\nbytes = { 0x76 = 0x24 }");
  EXPECT_EQ(MemoryClock(133.33), 133.3);

  Load("model = \"sis650\"");
  EXPECT_EQ(MemoryClock(133.33), 133.3);

  Load("model = \"nvidia-c18\"\nmemory_words = { 0x70 = 0x0030 }");  // no denominator
  EXPECT_EQ(MemoryClock(133.33), 133.3);
}

TEST_F(VirtualNorthBridgeTest, ProfileMistakesAreReportedNotGuessed) {
  struct Mistake {
    const char* entry;
    const char* mentions;
  };
  const Mistake mistakes[] = {
      {"", "model"},
      {"model = \"i999\"", "i999"},
      {"model = \"i845\"\nmemory_ratio = \"200/100\"", "100/100, 133/100, 100/133, 133/133"},
      {"model = \"i845\"\nmemory_ratio = \"fast\"", "fast"},
      {"model = \"i845\"\nmemory_ratio = \"133/0\"", "133/0"},
      {"model = \"i845\"\nmemory_ratio = 133", "memory_ratio"},
      {"model = \"sis651\"\nmemory_ratio = \"1/1\"", "clock generator"},
      {"model = \"nvidia-c18\"\nmemory_ratio = \"17/16\"", "1 to 15"},
      {"model = \"i845\"\nbytes = { 0xC7x = 1 }", "bytes"},
      {"model = \"i845\"\nbytes = { 0xC7 = 256 }", "bytes"},
      {"model = \"i845\"\nmemory_words = { 0x70 = 1 }", "nvidia-c18"},
      {"model = \"i845\"\nmemory_ratio = \"1/1\"\nspeed = 3", "speed"},
      {"model = \"i845\"\nrevision = -1", "revision"},
  };
  for (const Mistake& mistake : mistakes) {
    std::string message = "<loaded>";
    try {
      Load(mistake.entry);
    } catch (const std::runtime_error& error) {
      message = error.what();
    }
    EXPECT_THAT(message, ::testing::HasSubstr(mistake.mentions)) << mistake.entry;
  }
}

TEST(ShippedBoards, EachCarriesANorthBridgeTheProgramRecognises) {
  struct Expected {
    const char* board;
    const char* model;
    double fsb;
    double memoryClock;
  };
  const Expected expected[] = {
      {"default", "Intel 865PE MCH", 133.3, 166.4},
      {"kolgra", "Intel 875P MCH", 200.0, 200.0},
      {"nforce2", "nVidia Crush 17/18", 166.7, 166.7},
      {"qav", "Intel 845PE MCH", 133.3, 166.4},
      {"sis-648", "SiS 648", 133.3, 200.0},
      {"ich2-845", "Intel 845 MCH", 100.0, 133.0},
      {"via-km400", "VIA KM400", 133.3, 166.4},
      {"via-kt400", "VIA KT266(A)/333/400/600", 166.7, 200.8},
  };
  for (const Expected& e : expected) {
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(e.board, time);
    driver::InProcessDriverHandle driver(*board);
    hw::ScopedDriverHandle handle(&driver);
    const auto chip = DetectFirst(NorthBridgeCandidates(), [](PciMchIo& c) { return c.Detect(); });
    ASSERT_NE(chip, nullptr) << e.board;
    EXPECT_EQ(chip->GetModel(), e.model) << e.board;
    EXPECT_EQ(chip->GetMemoryClock(e.fsb), e.memoryClock) << e.board;
  }
}

TEST(ShippedBoards, EveryBenchBoardShowsItsOwnChipset) {
  int benches = 0;
  for (const std::string& name : sim::Board::ShippedNames()) {
    if (name.rfind("nb-", 0) != 0) continue;
    ++benches;
    const auto known = std::find_if(std::begin(kModels), std::end(kModels), [&](const ModelCase& c) {
      return name == std::string("nb-") + c.simModel;
    });
    ASSERT_NE(known, std::end(kModels)) << name;
    sim::ManualTimeSource time;
    const auto board = sim::Board::Shipped(name, time);
    driver::InProcessDriverHandle driver(*board);
    hw::ScopedDriverHandle handle(&driver);
    const auto chip = DetectFirst(NorthBridgeCandidates(), [](PciMchIo& c) { return c.Detect(); });
    ASSERT_NE(chip, nullptr) << name;
    EXPECT_EQ(chip->GetModel(), known->model) << name;
  }
  EXPECT_GE(benches, 15);
}

}  // namespace
}  // namespace rq::devices
