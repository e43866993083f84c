#include <gtest/gtest.h>

#include <sstream>

#include "sim/ChipConfig.h"

namespace rq::sim {
namespace {

toml::value Parse(const std::string& text) {
  std::istringstream in(text);
  return toml::parse(in, "inline");
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ProfileError& error) {
    return error.what();
  }
  return "<no error>";
}

TEST(ChipConfig, TypedAccessorsCheckTypeAndRange) {
  const auto table = Parse(
      "type = \"x\"\ncount = 7\nratio = 1.5\nwhole = 2\nflag = true\nname = \"n\"\nat = \"0:31.3\"\n"
      "address = 0x69\n");
  const ChipConfig config(table, "f.toml: chip 1 (x)");
  EXPECT_EQ(config.Integer("count", 0, 10), 7);
  EXPECT_EQ(config.Integer("absent", 0, 10, 4), 4);
  EXPECT_DOUBLE_EQ(config.Number("ratio", 0.0, 2.0), 1.5);
  EXPECT_DOUBLE_EQ(config.Number("whole", 0.0, 2.0), 2.0);  // integers are numbers too
  EXPECT_TRUE(config.Boolean("flag", false));
  EXPECT_FALSE(config.Boolean("absent-flag", false));
  EXPECT_EQ(config.String("name"), "n");
  EXPECT_EQ(config.Location("at"), (PciLocation{0, 31, 3}));
  EXPECT_EQ(config.SmbusAddress(), 0x69);

  EXPECT_NE(ErrorOf([&] { config.Integer("count", 8, 10); }).find("f.toml: chip 1 (x): key 'count' is 7"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.Integer("ratio", 0, 10); }).find("must be an integer"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.Number("name", 0, 10); }).find("must be a number"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.Boolean("count", true); }).find("true or false"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.String("count"); }).find("must be a string"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.Location("name"); }).find("key 'name'"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.Integer("missing", 0, 1); }).find("key 'missing' is missing"),
            std::string::npos);
}

TEST(ChipConfig, UnreadKeysAreTheOnesNoAccessorTouched) {
  const auto table = Parse("type = \"x\"\nzeta = 1\nalpha = 2\nused = 3\n");
  const ChipConfig config(table, "ctx");
  config.Type();
  config.Integer("used", 0, 5);
  config.Integer("optional", 0, 5, 0);  // asking for an absent key is fine
  EXPECT_EQ(config.UnreadKeys(), (std::vector<std::string>{"alpha", "zeta"}));
}

TEST(ChipConfig, RegisterTablesTakeDecimalAndHexRegisterNumbers) {
  const auto table = Parse("regs = { 0xE7 = 0x21, 12 = 0xFF, 0X0A = 1 }\nbad = { ra = 1 }\nlist = [1, 2]\n");
  const ChipConfig config(table, "ctx");
  const auto regs = config.RegisterTable("regs", 0xFF, 0xFF);
  EXPECT_EQ(regs, (std::map<std::uint32_t, std::uint64_t>{{0x0A, 1}, {12, 0xFF}, {0xE7, 0x21}}));
  EXPECT_TRUE(config.RegisterTable("absent", 0xFF, 0xFF).empty());
  EXPECT_NE(ErrorOf([&] { config.RegisterTable("regs", 0x7F, 0xFF); }).find("0xE7"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.RegisterTable("regs", 0xFF, 0x7F); }).find("0..127"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.RegisterTable("bad", 0xFF, 0xFF); }).find("'ra'"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { config.RegisterTable("list", 0xFF, 0xFF); }).find("must be a table"),
            std::string::npos);
  EXPECT_EQ(ParseRegisterKey("0x"), std::nullopt);
  EXPECT_EQ(ParseRegisterKey("-1"), std::nullopt);
  EXPECT_EQ(ParseRegisterKey("0x1G"), std::nullopt);
}

}  // namespace
}  // namespace rq::sim
