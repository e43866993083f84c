// The kernel's sensors from a hostile tree: nothing hangs, loops or is misread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "devices/monitor/HwmonSensors.h"
#include "devices/monitor/KernelMonitor.h"
#include "support/FakeHwmon.h"
#include "support/TempDir.h"

namespace rq::devices {
namespace {

TEST(HwmonSensors, OddFilesAreLeftOutAndTheOrderIsByNumber) {
  test::TempDir root;
  test::WriteTree(
      root.Path(),
      "class/hwmon/hwmon10: name=late; temp1_input=10000\n"
      "class/hwmon/hwmon2: temp1_input=20000; temp2_input=N/A; temp3_input=12x; temp4_input=-5500; "
      "in1_input=1200; in1_label=\x1b[2Jx; fan1_input=; fan1_label=  \n"
      "class/hwmon/hwmon3 -> hwmon3\nclass/hwmon/hwmon2/temp6_input -> ../hwmon10/temp1_input");
  std::ofstream(root / "class/hwmon/hwmon2/temp7_input") << std::string(1 << 20, '1');
  ASSERT_EQ(::mkfifo((root / "class/hwmon/hwmon2/temp5_input").c_str(), 0600), 0);
  std::vector<std::string> shown;
  for (const HwmonChannel& channel : FindHwmonChannels(root.Path())) {
    const auto value = ReadHwmonChannel(channel);
    shown.push_back(channel.label + "=" + (value ? std::to_string(*value) : "-"));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"hwmon2 temp1=20.000000", "hwmon2 temp2=-", "hwmon2 temp3=-",
                                             "hwmon2 temp4=-5.500000", "hwmon2 temp7=-",
                                             "late temp1=10.000000", "hwmon2 fan1=-", "?[2Jx=1.200000"}));
  EXPECT_TRUE(FindHwmonChannels(root / "absent").empty());
}

// The ITE wiring and scaling through the it87 driver: the negative rails against the
// chip's 4.096 V, the third temperature and fan; a sensor the tree lacks reads false.
TEST(HwmonSensors, AChipAKernelDriverOwnsIsReadThroughItWithTheChipsOwnScaling) {
  test::TempDir root;
  test::WriteTree(
      root.Path(),
      "class/hwmon/hwmon0: name=coretemp; temp1_input=50000\n"
      "class/hwmon/hwmon1: name=it87; in5_input=966; in6_input=1200; temp3_input=40000; fan3_input=1500");
  CurrentSystem().settingsFile = root / "none.ini";
  CurrentSystem().boardDefaults = {{"TempSensor3", "1"}, {"Fan3", "1"}};
  const auto chip = FindKernelOwnedMonitor(root.Path());
  ASSERT_NE(chip, nullptr);
  double vn12 = 0, vn5 = 0, temp3 = 0, v33 = 0;
  std::int32_t fan3 = 0;
  EXPECT_TRUE(chip->ReadVN12(vn12) && chip->ReadVN5(vn5) && chip->ReadTempSensor3(temp3) &&
              chip->ReadFan3(fan3));
  EXPECT_EQ(chip->GetModel() + " " + chip->Adapter(), "IT8705F kernel hwmon (it87)");
  EXPECT_EQ(std::vector<double>({vn12, vn5, temp3, static_cast<double>(fan3)}),
            std::vector<double>({-12.0, -5.06, 40, 1500}));
  EXPECT_FALSE(chip->ReadV33(v33));
  CurrentSystem() = SystemFacts{};
}

}  // namespace
}  // namespace rq::devices
