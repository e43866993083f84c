#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/monitor/HwmonTree.h"
#include "sim_support.h"
#include "support/TempDir.h"

namespace rq::sim {
namespace {

// No ripple, so every encoding is exact: CPU 35.5 degrees (20.5 + 50 W x 0.3),
// board 30.5, the CPU fan at 3000 RPM, the case fan at 1800, no third fan.
constexpr char kQuietBoard[] =
    "[[chip]]\ntype = \"analog\"\ncpu_vid = 1.50\nvmem = 2.65\nv12 = 12.1\nvbat = 3.05\nripple_percent = "
    "0\nambient_c = 20.5\n"
    "cpu_watts = 50\ncpu_c_per_watt = 0.3\nboard_c_per_watt = 0.2\ncpu_fan_rpm = 3000\n"
    "system_fan_rpm = 1800\naux_fan_rpm = 0\n";

class MonitorChip {
 public:
  explicit MonitorChip(const std::string& chip, const std::string& analog = kQuietBoard)
      : board_(Board::FromProfileText(testing::BoardHeader() + analog + chip, time_)) {}
  std::uint8_t Read(std::uint8_t reg) {
    board_->Ports().Out(0x295, reg);
    return board_->Ports().In(0x296);
  }
  void Write(std::uint8_t reg, std::uint8_t value) {
    board_->Ports().Out(0x295, reg);
    board_->Ports().Out(0x296, value);
  }
  // Writes each byte to 0x2E in turn.
  void Key(const std::vector<std::uint8_t>& bytes) {
    for (const std::uint8_t byte : bytes) board_->Ports().Out(0x2E, byte);
  }
  std::uint8_t Config(std::uint8_t reg) {
    board_->Ports().Out(0x2E, reg);
    return board_->Ports().In(0x2F);
  }
  Board& GetBoard() { return *board_; }

 private:
  ManualTimeSource time_;
  std::unique_ptr<Board> board_;
};

struct RegisterCase {
  int bank;  // -1: no bank selected first
  std::uint8_t reg;
  std::uint8_t expected;
  const char* what;
};

void ExpectRegisters(MonitorChip& chip, const std::vector<RegisterCase>& cases) {
  for (const auto& c : cases) {
    if (c.bank >= 0) chip.Write(0x4E, static_cast<std::uint8_t>(c.bank));
    EXPECT_EQ(chip.Read(c.reg), c.expected) << c.what;
  }
}

TEST(WinbondMonitorChip, EncodesSuppliesTemperaturesAndFans) {
  MonitorChip chip("[[chip]]\ntype = \"w83627hf\"\nbase = 0x290\n");
  ExpectRegisters(chip, {
                            {-1, 0x20, 0x5E, "VCore 1.50 V / 16 mV = 93.75"},
                            {-1, 0x21, 0xA6, "memory 2.65 V"},
                            {-1, 0x22, 0xCE, "3.30 V"},
                            {-1, 0x23, 0xBA, "5 V through 68k/100k: 2.976 V"},
                            {-1, 0x24, 0xC7, "12.1 V through 28k/10k: 3.184 V"},
                            {-1, 0x25, 0x23, "-12 V against 3.6 V through 232k/56k: 0.567 V"},
                            {-1, 0x26, 0x36, "-5 V against 3.6 V through 120k/56k: 0.864 V"},
                            {-1, 0x27, 0x1F, "board 30.5 degrees, whole degrees"},
                            {-1, 0x28, 0x71, "3000 RPM / 4: count 112.5"},
                            {-1, 0x29, 0x5E, "1800 RPM / 8: count 93.75"},
                            {-1, 0x2A, 0xFF, "no third fan"},
                            {-1, 0x4E, 0x80, "power-on: high vendor byte, bank 0"},
                            {-1, 0x4F, 0x5C, "vendor high"},
                            {0x00, 0x4F, 0xA3, "vendor low"},
                            {0x00, 0x58, 0x21, "chip ID"},
                            {0x01, 0x50, 0x23, "CPU 35.5 degrees"},
                            {0x01, 0x51, 0x80, "the half degree"},
                            {0x01, 0x58, 0x00, "chip ID only in bank 0"},
                            {0x05, 0x50, 0xCE, "5 V standby through 17k/33k: 3.3 V"},
                            {0x05, 0x51, 0xBF, "battery 3.05 V"},
                        });
  // Divisor code 2 + 4 (0x47 bits 5..4, 0x5D bit 5): fan 1 / 64.
  chip.Write(0x4E, 0x00);
  chip.Write(0x47, 0x20);
  chip.Write(0x5D, 0x20);
  EXPECT_EQ(chip.Read(0x47), 0x25) << "VID bits stay";
  EXPECT_EQ(chip.Read(0x28), 0x07) << "3000 RPM / 64: count 7.03";

  const nlohmann::json shown = chip.GetBoard().Inspect()["chips"].back();
  EXPECT_EQ(shown["name"], "w83627hf");
  EXPECT_EQ(shown["sensorRegisters"]["0x20"], "0x5E");
  EXPECT_EQ(shown["sensorRegisters"]["0x28"], "0x07");
  EXPECT_EQ(shown["bank"], 0);
}

TEST(WinbondMonitorChip, SuperIoIdentificationNeedsTheDoubleKey) {
  MonitorChip w627("[[chip]]\ntype = \"w83627hf\"\nbase = 0x290\n");
  EXPECT_EQ(w627.Config(0x20), 0xFF) << "outside configuration mode the chip stays off the bus";
  w627.Key({0x87, 0x01, 0x55, 0x55});
  EXPECT_EQ(w627.Config(0x20), 0xFF) << "the ITE key does not open a Winbond chip";
  w627.Key({0x87, 0x87});
  EXPECT_EQ(w627.Config(0x20), 0x52);
  w627.Key({0xAA});
  EXPECT_EQ(w627.Config(0x20), 0xFF);

  MonitorChip w697("[[chip]]\ntype = \"w83697hf\"\nbase = 0x290\n");
  w697.Key({0x87, 0x87});
  EXPECT_EQ(w697.Config(0x20), 0x60);
  w697.Write(0x4E, 0x00);
  EXPECT_EQ(w697.Read(0x58), 0x60);
  EXPECT_EQ(w697.Read(0x21), 0x00) << "no second core input";
}

TEST(IteMonitorChip, EncodesSuppliesTemperaturesAndFans) {
  MonitorChip chip("[[chip]]\ntype = \"it8712f\"\nbase = 0x290\nv33_divider = true\n");
  ExpectRegisters(chip, {
                            {-1, 0x20, 0x5E, "VCore 1.50 V"},
                            {-1, 0x22, 0x67, "3.3 V halved: 1.65 V"},
                            {-1, 0x23, 0xBA, "5 V through 68k/100k"},
                            {-1, 0x24, 0xBD, "12.1 V through 30k/10k: 3.025 V"},
                            {-1, 0x25, 0x3C, "-12 V against 4.096 V through 232k/56k: 0.966 V"},
                            {-1, 0x26, 0x4C, "-5 V against 4.096 V through 121k/56k: 1.218 V"},
                            {-1, 0x27, 0xBA, "5 V standby through 68k/100k"},
                            {-1, 0x28, 0xBF, "battery 3.05 V"},
                            {-1, 0x29, 0x1F, "board 30.5"},
                            {-1, 0x2A, 0x24, "CPU 35.5"},
                            {-1, 0x2B, 0x23, "chipset 34.5"},
                            {-1, 0x0B, 0x5A, "fan 1 / 4, fan 2 / 8, fan 3 / 8"},
                            {-1, 0x0D, 0x71, "3000 RPM / 4"},
                            {-1, 0x0E, 0x5E, "1800 RPM / 8"},
                            {-1, 0x0F, 0xFF, "no third fan"},
                            {-1, 0x58, 0x90, "vendor"},
                        });
  chip.Write(0x00, 0x41);
  EXPECT_EQ(chip.Read(0x00), 0x01) << "the battery bit clears once measured";

  MonitorChip plain("[[chip]]\ntype = \"it8705f\"\nbase = 0x290\n");
  EXPECT_EQ(plain.Read(0x22), 0xCE) << "3.3 V straight to the pin";
}

TEST(IteMonitorChip, ConfigurationKeyIdentifiesEachModel) {
  const std::vector<std::pair<std::string, std::uint8_t>> models = {
      {"it8712f", 0x12}, {"it8705f", 0x05}, {"it8722f", 0x22}};
  for (const auto& [type, id] : models) {
    MonitorChip chip("[[chip]]\ntype = \"" + type + "\"\nbase = 0x290\n");
    chip.Key({0x87, 0x87});
    EXPECT_EQ(chip.Config(0x20), 0xFF) << type << ": the Winbond key does not open it";
    chip.Key({0x87, 0x01, 0x55, 0x55});
    EXPECT_EQ(chip.Config(0x20), 0x87) << type;
    EXPECT_EQ(chip.Config(0x21), id) << type;
    chip.Key({0x02});
    chip.GetBoard().Ports().Out(0x2F, 0x02);
    EXPECT_EQ(chip.Config(0x20), 0xFF) << type << ": left configuration mode";
  }
}

TEST(MonitorChips, TemperaturesBelowFreezingAreTwosComplement) {
  // CPU at -19.5 degrees: 8-bit -20 (round half away), 9-bit -39 half degrees.
  const std::string cold =
      "[[chip]]\ntype = \"analog\"\nambient_c = -20\ncpu_watts = 1\ncpu_c_per_watt = 0.5\n"
      "board_c_per_watt = 0\n";
  MonitorChip ite("[[chip]]\ntype = \"it8722f\"\nbase = 0x290\n", cold);
  EXPECT_EQ(ite.Read(0x2A), 0xEC);
  EXPECT_EQ(ite.Read(0x29), 0xEC);
  MonitorChip winbond("[[chip]]\ntype = \"w83627hf\"\nbase = 0x290\n", cold);
  winbond.Write(0x4E, 0x01);
  EXPECT_EQ(winbond.Read(0x50), 0xEC);
  EXPECT_EQ(winbond.Read(0x51), 0x80);
}


// The tree a kernel driver of each chip would publish for the quiet board: pins in
// millivolts (register x 16), millidegrees, RPM from count and divisor as the driver
// computes them. Absent files are the driver's channels the chip lacks.
TEST(HwmonTree, PublishesEachChipAsItsKernelDriverWould) {
  struct Case {
    const char* type;
    const char* device;  // under devices/platform; null: no kernel driver, no tree
    std::map<std::string, std::string> files;
    std::vector<std::string> absent;
  };
  const std::map<std::string, std::string> winbondCommon = {
      {"in0_input", "1504"}, {"in2_input", "3296"}, {"in3_input", "2976"}, {"in4_input", "3184"},
      {"in5_input", "560"},  {"in6_input", "864"},  {"in7_input", "3296"}, {"in8_input", "3056"},
      {"temp1_input", "31000"}, {"temp2_input", "35500"}, {"fan1_input", "2987"}, {"fan2_input", "1795"}};
  auto with = [](std::map<std::string, std::string> files, std::map<std::string, std::string> more) {
    files.insert(more.begin(), more.end());
    return files;
  };
  const std::vector<Case> cases = {
      {"w83627hf", "w83627hf.656",
       with(winbondCommon, {{"name", "w83627hf"}, {"in1_input", "2656"}, {"temp3_input", "30500"}, {"fan3_input", "0"}}),
       {}},
      {"w83697hf", "w83627hf.656", with(winbondCommon, {{"name", "w83697hf"}}),
       {"in1_input", "temp3_input", "fan3_input"}},
      {"it8712f", "it87.656",
       {{"name", "it8712"}, {"in0_input", "1504"}, {"in1_input", "2656"}, {"in2_input", "1648"},
        {"in3_input", "2976"}, {"in4_input", "3024"}, {"in5_input", "960"}, {"in6_input", "1216"},
        {"in7_input", "2976"}, {"in8_input", "3056"}, {"temp1_input", "31000"}, {"temp2_input", "36000"}, {"temp3_input", "35000"},
        {"fan1_input", "2987"}, {"fan2_input", "1795"}, {"fan3_input", "0"}},
       {}},
      {"it8722f", nullptr, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string halved = c.type == std::string("it8712f") ? "v33_divider = true\n" : "";
    MonitorChip chip(std::string("[[chip]]\ntype = \"") + c.type + "\"\nbase = 0x290\n" + halved);
    test::TempDir root;
    std::string error;
    ASSERT_TRUE(WriteHwmonTree(chip.GetBoard(), root.Path(), error)) << error;
    const std::filesystem::path link = root / "class/hwmon/hwmon0";
    if (c.device == nullptr) {
      EXPECT_FALSE(std::filesystem::exists(link));
      continue;
    }
    EXPECT_EQ(std::filesystem::read_symlink(link), std::string("../../devices/platform/") + c.device + "/hwmon/hwmon0");
    for (const auto& [file, value] : c.files) {
      std::ifstream in(link / file);
      std::string text;
      std::getline(in, text);
      EXPECT_EQ(text, value) << file;
    }
    for (const std::string& file : c.absent) EXPECT_FALSE(std::filesystem::exists(link / file)) << file;
    // Rewritten in place: the same link, nothing left beside the files; a link planted
    // where a file is first written leads the writer nowhere.
    std::ofstream(root / "victim") << "keep";
    std::filesystem::create_symlink(root / "victim", link / ".name.new");
    ASSERT_TRUE(WriteHwmonTree(chip.GetBoard(), root.Path(), error)) << error;
    std::string kept;
    std::getline(std::ifstream(root / "victim"), kept);
    EXPECT_EQ(kept, "keep");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(link), {}),
              static_cast<std::ptrdiff_t>(c.files.size()));
  }
}

}  // namespace
}  // namespace rq::sim
