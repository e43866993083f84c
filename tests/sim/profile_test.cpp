#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/Board.h"
#include "sim/ProfileLimits.h"
#include "sim/SmbusRegisterFile.h"
#include "sim_support.h"

namespace rq::sim {
namespace {

using testing::BoardHeader;

std::string LoadError(const std::string& text, const std::string& origin = "bad.toml") {
  ManualTimeSource time;
  try {
    Board::FromProfileText(text, time, origin);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "<loaded>";
}

TEST(ShippedBoards, EveryOneLoadsUnderItsOwnName) {
  const auto names = Board::ShippedNames();
  ASSERT_GE(names.size(), 5U);
  EXPECT_EQ(names.front(), "default");
  EXPECT_TRUE(std::is_sorted(names.begin() + 1, names.end()));
  for (const auto& name : names) {
    ManualTimeSource time;
    std::unique_ptr<Board> board;
    ASSERT_NO_THROW(board = Board::Shipped(name, time)) << name;
    EXPECT_EQ(board->ProfileName(), name);
    EXPECT_FALSE(board->Hung()) << name;
    EXPECT_FALSE(board->Bios().ModelString().empty()) << name;
    // Every board has a host bridge at 0:0.0 and is reachable through 0xCF8/0xCFC.
    EXPECT_NE(board->Pci().ReadConfigWord({0, 0, 0}, 0x00), 0xFFFF) << name;
    EXPECT_LE(board->PowerOnFsb(), board->Processor().MaxStableFsb()) << name;
  }
}

TEST(ShippedBoards, UnknownNameListsTheShippedOnes) {
  ManualTimeSource time;
  try {
    Board::Shipped("nonesuch", time);
    FAIL() << "loaded a board that is not shipped";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("nonesuch"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("default"), std::string::npos);
  }
}

TEST(ShippedBoards, DefaultBoardIdentity) {
  ManualTimeSource time;
  auto board = Board::Shipped("default", time);
  PciBus& pci = board->Pci();
  EXPECT_EQ(pci.ReadConfigWord({0, 0, 0}, 0x00), 0x8086);
  EXPECT_EQ(pci.ReadConfigWord({0, 0, 0}, 0x02), 0x2570);
  EXPECT_EQ(pci.ReadConfigWord({0, 0, 0}, 0xE7) & 0xFF, 0x21);
  EXPECT_EQ(pci.ReadConfigWord({0, 0, 0}, 0xE8) & 0xFF, 0x00);
  EXPECT_EQ(pci.ReadConfigWord({0, 31, 3}, 0x02), 0x24D3);
  EXPECT_EQ(pci.ReadConfigWord({0, 31, 3}, 0x20) & 0xFFFE, 0x0400);
  EXPECT_EQ(pci.ReadConfigWord({0, 31, 0}, 0x02), 0x24D0);
  EXPECT_DOUBLE_EQ(board->Processor().Multiplier(), 18.0);
  // The clock generator's PLL makes the strapped 133.3 MHz to within its step.
  EXPECT_NEAR(board->Processor().Fsb(), 133.3, 0.05);
}

TEST(ProfileErrors, NameTheFileTheChipAndTheProblem) {
  struct Case {
    std::string text;
    std::vector<std::string> mentions;
  };
  const std::string header = BoardHeader();
  const std::vector<Case> cases = {
      {"name = \"x\"\n[bios\n", {"bad.toml", "TOML"}},
      {"description = \"no name\"\n", {"bad.toml", "'name'", "missing"}},
      {"name = \"x\"\n[bios]\nmodel = \"A\"\n", {"bad.toml", "'cpu'", "missing"}},
      {header + "colour = \"blue\"\n", {"bad.toml", "unknown key 'colour'"}},
      {header + "[[chip]]\naddress = 0x50\n", {"chip 1", "'type'", "missing"}},
      {header + "[[chip]]\ntype = \"flux-capacitor\"\n", {"chip 1", "unknown chip type \"flux-capacitor\""}},
      {header + "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x50\nadress = 0x51\n",
       {"chip 1 (smbus-register-file)", "unknown key 'adress'"}},
      {header + "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x80\n",
       {"chip 1 (smbus-register-file)", "'address'", "0..127"}},
      {header + "[[chip]]\ntype = \"smbus-register-file\"\naddress = \"0x50\"\n", {"'address'", "integer"}},
      {header + "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x50\n"
                "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x50\n",
       {"chip 2 (smbus-register-file)", "0x50", "taken"}},
      {header + "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:32.0\"\nvendor = 1\ndevice = 2\n",
       {"chip 1 (pci-function)", "'location'"}},
      {header + "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:1.0\"\nvendor = 1\ndevice = 2\n"
                "bytes = { 0x100 = 1 }\n",
       {"'bytes'", "0x100"}},
      {header + "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:1.0\"\nvendor = 1\ndevice = 2\n"
                "words = { 0x40 = 0x10000 }\n",
       {"'words'", "0x40"}},
      {header + "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:1.0\"\nvendor = 1\ndevice = 2\n"
                "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:1.0\"\nvendor = 3\ndevice = 4\n",
       {"chip 2 (pci-function)", "0:1.0", "taken"}},
      {BoardHeader(148.0, 150.0), {"bad.toml", "hangs at power-on"}},
      {"name = \"x\"\n[bios]\nmodel = \"" + std::string(200, 'A') +
           "\"\n[cpu]\nmultiplier = 18\n"
           "max_stable_fsb = 148\npower_on_fsb = 133\n",
       {"[bios]", "199"}},
      {"name = \"x\"\n[bios]\nmodel = \"A\"\n[cpu]\nmultiplier = 18\nmax_stable_fsb = 148\n"
       "power_on_fsb = 133\nturbo = true\n",
       {"[cpu]", "unknown key 'turbo'"}},
      {"name = \"x\"\nchip = 3\n[bios]\nmodel = \"A\"\n[cpu]\nmultiplier = 18\nmax_stable_fsb = 148\n"
       "power_on_fsb = 133\n",
       {"'chip' must be a list"}},
  };
  for (const auto& c : cases) {
    const std::string message = LoadError(c.text);
    for (const auto& mention : c.mentions) {
      EXPECT_NE(message.find(mention), std::string::npos) << "message: " << message << "\nprofile:\n"
                                                          << c.text;
    }
  }
}

TEST(ProfileErrors, FactoryFailuresOfRawFactoriesAreWrappedWithTheChip) {
  static const ChipRegistrar registrar("test-raw-chip", [](const toml::value& config, Board&) {
    (void)toml::find<std::int64_t>(config, "needed");
  });
  const std::string message = LoadError(BoardHeader() + "[[chip]]\ntype = \"test-raw-chip\"\n");
  EXPECT_NE(message.find("bad.toml: chip 1 (test-raw-chip)"), std::string::npos) << message;
  EXPECT_EQ(LoadError(BoardHeader() + "[[chip]]\ntype = \"test-raw-chip\"\nneeded = 1\n"), "<loaded>");
}

TEST(ProfileFiles, LoadFromDiskAndReportMissingFiles) {
  const auto path = std::filesystem::temp_directory_path() / "rq_sim_profile_test.toml";
  {
    std::ofstream file(path);
    file << BoardHeader();
  }
  ManualTimeSource time;
  EXPECT_EQ(Board::FromProfileFile(path.string(), time)->ProfileName(), "test");
  std::filesystem::remove(path);
  try {
    Board::FromProfileFile(path.string(), time);
    FAIL() << "loaded a missing file";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
  }
}

std::string Repeat(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += part;
  return text;
}

// Hostile profiles are refused before the parser sees them (it would overflow
// its stack or take minutes); the message names the file and the limit.
TEST(ProfileLimits, DeepLongOrLargeProfilesAreRefusedWithTheLimit) {
  struct Case {
    std::string text;
    std::string mention;
  };
  const std::string deep = "nested deeper than 32 levels";
  const std::vector<Case> cases = {
      {"x = " + Repeat("[", 20000) + Repeat("]", 20000) + "\n", deep},
      {"x = " + Repeat("[", 20000) + "\n", deep},
      {"x = " + Repeat("{a = ", 20000) + "1" + Repeat("}", 20000) + "\n", deep},
      {"a" + Repeat(".a", 20000) + " = 1\n", deep},
      {"[a" + Repeat(".a", 20000) + "]\n", deep},
      {"x = " + Repeat("[", 33) + Repeat("]", 33) + "\n", deep},
      // Depth adds up across a table header, dotted keys, inline tables and arrays.
      {"[a" + Repeat(".a", 19) + "]\nb" + Repeat(".b", 12) + " = [{c = 1}]\n", deep},
      {"[[a" + Repeat(".a", 20) + "]]\nb" + Repeat(".b", 12) + " = 1\n", deep},
      // Closing brackets inside strings and comments close nothing.
      {"x = " + Repeat("[", 20) + "\"]]]]]]]]]]]]]]]]]]]]\", '" + Repeat("]", 20) + "', # " +
           Repeat("]", 20) + "\n" + Repeat("[", 20) + "\n",
       deep},
      {"x = \"" + std::string(20000, 'a') + "\"\n", "line 1 is longer than 8192 characters"},
      {BoardHeader() + Repeat("# a long comment, line after line, that fills the file\n", 6000),
       "larger than 128 KiB"},
  };
  for (const auto& c : cases) {
    const std::string message = LoadError(c.text);
    EXPECT_NE(message.find("bad.toml"), std::string::npos) << message;
    EXPECT_NE(message.find(c.mention), std::string::npos)
        << message << "\nprofile: " << c.text.substr(0, 200);
  }
}

TEST(ProfileLimits, BracketsInStringsAndCommentsAndDotsInValuesDoNotCount) {
  const std::string many = std::string(40, '[') + std::string(40, '{');
  const std::vector<std::string> fine = {
      "x = " + Repeat("[", 32) + Repeat("]", 32) + "\n",
      "[[a" + Repeat(".a", 29) + "]]\nb = 1\n",
      "s = \"" + many + "\"\nt = '" + many + "'\n# " + many + "\n",
      "s = \"\\\"" + many + "\\\\\"\n",
      "s = \"\"\"\n\"\"" + many + "\n\\\"\"\" " + many + "\n\"\"\"\"\"\n",
      "s = '''\n" + many + "\n''" + many + "'''''\n",
      "\"" + Repeat("a.", 40) + "\" = 1\n",
      "x = [" + Repeat("1.5, ", 40) + "]\nt = 1979-05-27T07:32:00.999999Z\n",
      "x = [\n" + Repeat("  {a.b = [[1]], c = \"]]\"},  # ]]\n", 40) + "]\n",
  };
  for (const auto& text : fine) {
    EXPECT_NO_THROW(CheckProfileLimits(text, "fine.toml")) << text;
    EXPECT_EQ(LoadError(text).find("TOML"), std::string::npos) << text;  // the parser agrees it is valid
  }
}

TEST(ProfileLimits, AHostileFileIsRefusedQuicklyAndNamed) {
  const auto path = std::filesystem::temp_directory_path() / "rq_sim_deep_profile.toml";
  {
    std::ofstream file(path);
    file << "x = " << Repeat("[", 20000) << Repeat("]", 20000) << "\n";
  }
  ManualTimeSource time;
  const auto before = std::chrono::steady_clock::now();
  try {
    Board::FromProfileFile(path.string(), time);
    FAIL() << "loaded a 20000-deep profile";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(
        std::string(error.what()).find(path.string() + ": line 1: tables and arrays nested deeper than 32"),
        std::string::npos)
        << error.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  std::filesystem::remove(path);
}

TEST(GenericChips, PciFunctionTakesIdentityAndRawConfiguration) {
  ManualTimeSource time;
  auto board =
      Board::FromProfileText(BoardHeader() +
                                 "[[chip]]\ntype = \"pci-function\"\nlocation = \"0:17.0\"\n"
                                 "vendor = 0x1106\ndevice = 0x3177\nrevision = 0x83\nclass = 0x060100\n"
                                 "bytes = { 0xD2 = 0x01, 0x41 = 0x7F }\nwords = { 0xD0 = 0x0501 }\n"
                                 "dwords = { 0x40 = 0x12345678 }\n",
                             time);
  PciBus& pci = board->Pci();
  const PciLocation at{0, 17, 0};
  EXPECT_EQ(pci.ReadConfigWord(at, 0x00), 0x1106);
  EXPECT_EQ(pci.ReadConfigWord(at, 0x02), 0x3177);
  EXPECT_EQ(pci.ReadConfigWord(at, 0x08), 0x0083);
  EXPECT_EQ(pci.ReadConfigWord(at, 0x0A), 0x0601);
  EXPECT_EQ(pci.ReadConfigWord(at, 0xD0), 0x0501);
  EXPECT_EQ(pci.ReadConfigWord(at, 0xD2), 0x0001);
  // The dword wins over the byte it overlaps.
  EXPECT_EQ(pci.ReadConfigWord(at, 0x40), 0x5678);
  EXPECT_EQ(pci.ReadConfigWord(at, 0x42), 0x1234);
}

TEST(GenericChips, RegisterFileSpeaksByteAndBlockProtocols) {
  ManualTimeSource time;
  auto board = Board::FromProfileText(
      BoardHeader() +
          "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x69\nblock_count_register = 8\n"
          "registers = { 8 = 3, 0 = 0x11, 1 = 0x22, 2 = 0x33, 3 = 0x44 }\n"
          "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x2D\nfill = 0xAA\nblock_count = 4\n",
      time);
  SmbusDevice* counted = board->Smbus().Find(0x69);
  SmbusDevice* fixed = board->Smbus().Find(0x2D);
  ASSERT_NE(counted, nullptr);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(board->Smbus().Find(0x4E), nullptr);

  std::vector<std::uint8_t> data;
  ASSERT_TRUE(counted->BlockRead(0, data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0x11, 0x22, 0x33}));
  ASSERT_TRUE(counted->WriteByteData(8, 5));  // the count follows its register
  ASSERT_TRUE(counted->BlockRead(0, data));
  EXPECT_EQ(data.size(), 5U);

  ASSERT_TRUE(fixed->BlockRead(0xFE, data));  // wraps around the register file
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0xAA, 0xAA, 0xAA, 0xAA}));
  const std::vector<std::uint8_t> written = {1, 2, 3};
  ASSERT_TRUE(fixed->BlockWrite(0x10, written));
  std::uint8_t value = 0;
  ASSERT_TRUE(fixed->ReadByteData(0x12, value));
  EXPECT_EQ(value, 3);

  board->PowerOnReset();  // back to the profile's registers
  ASSERT_TRUE(fixed->ReadByteData(0x12, value));
  EXPECT_EQ(value, 0xAA);
  ASSERT_TRUE(counted->BlockRead(0, data));
  EXPECT_EQ(data.size(), 3U);
}

TEST(GenericChips, RegisterFileRefusesBothCountForms) {
  const std::string message =
      LoadError(BoardHeader() +
                "[[chip]]\ntype = \"smbus-register-file\"\naddress = 0x69\nblock_count_register = 8\n"
                "block_count = 4\n");
  EXPECT_NE(message.find("either"), std::string::npos) << message;
}

TEST(ChipRegistry, KnowsTheGenericTypesAndPlannedOnes) {
  const auto types = RegisteredChipTypes();
  EXPECT_NE(std::find(types.begin(), types.end(), "pci-function"), types.end());
  EXPECT_NE(std::find(types.begin(), types.end(), "smbus-register-file"), types.end());
  EXPECT_NE(std::find(types.begin(), types.end(), "atxp3"), types.end());
  const auto planned = PlannedChipTypes();
  EXPECT_NE(std::find(planned.begin(), planned.end(), std::string("sensors")), planned.end());
}

}  // namespace
}  // namespace rq::sim

namespace rq::sim {
namespace {

class Sensors : public Chip {
 public:
  explicit Sensors(double level) : baseline(level) {}
  std::string Name() const override { return "sensors"; }
  void PowerOnReset() override {}
  double baseline;
};

RQ_SIM_CHIP("sensors", [](const ChipConfig& config, Board& board) {
  board.Own(std::make_unique<Sensors>(config.Number("baseline", 0.0, 100.0)));
});

TEST(ChipRegistry, PlannedTypeIsBuiltOnceAFactoryRegistersIt) {
  ManualTimeSource time;
  auto board = Board::FromProfileText(
      BoardHeader() +
          "[[chip]]\ntype = \"sensors\"\nbaseline = 40\n[[chip]]\ntype = \"sis962-gpio\"\nbase = 0x4E\n",
      time);
  ASSERT_NE(board->Find<Sensors>(), nullptr);
  EXPECT_DOUBLE_EQ(board->Find<Sensors>()->baseline, 40.0);
  ASSERT_EQ(board->PlannedChips().size(), 1U);
  EXPECT_EQ(board->PlannedChips()[0]["type"], "sis962-gpio");
  EXPECT_EQ(board->PlannedChips()[0]["base"], 0x4E);
}

}  // namespace
}  // namespace rq::sim
