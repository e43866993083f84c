#include "driver/Daemon.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "driver/ControlServer.h"
#include "driver/UnixSocket.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

using ::testing::HasSubstr;
using Mode = DaemonOptions::Mode;

TEST(DaemonOptions, ParsesEveryOptionInBothForms) {
  const auto options = ParseDaemonOptions(
      {"--board", "via-kt600", "--socket=/tmp/x/s.sock", "--ready-fd", "7", "--foreground"});
  EXPECT_EQ(options.mode, Mode::Serve);
  EXPECT_EQ(options.board, "via-kt600");
  EXPECT_EQ(options.socketPath, "/tmp/x/s.sock");
  EXPECT_EQ(options.readyFd, 7);
  EXPECT_TRUE(options.foreground);
  EXPECT_FALSE(options.realHardware);

  const auto inspect = ParseDaemonOptions({"inspect", "--json", "--socket", "/s"});
  EXPECT_EQ(inspect.mode, Mode::Inspect);
  EXPECT_TRUE(inspect.json);
  EXPECT_EQ(inspect.socketPath, "/s");
  EXPECT_TRUE(ParseDaemonOptions({"--real-hardware"}).realHardware);
  EXPECT_TRUE(ParseDaemonOptions({"--real-hardware", "--allow-owned-ports"}).allowOwnedPorts);
  EXPECT_EQ(ParseDaemonOptions({"--real-hardware", "--group", "rhomboquest"}).group, "rhomboquest");
  EXPECT_EQ(ParseDaemonOptions({"--help"}).mode, Mode::Help);
  EXPECT_EQ(ParseDaemonOptions({"--version"}).mode, Mode::Version);
}

TEST(DaemonOptions, RejectsWhatItCannotUse) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--board"},
                                             {"--ready-fd", "x"},
                                             {"--ready-fd", "-1"},
                                             {"--ready-fd", "3z"},
                                             {"--bogus"},
                                             {"--json"},
                                             {"inspect", "--board", "x"},
                                             {"--board", "default", "--real-hardware"},
                                             {"--allow-owned-ports"},
                                             {"--socket="},
                                             {"--group="},
                                             {"inspect", "--group", "g"},
                                             {"serve"}}) {
    EXPECT_THROW(ParseDaemonOptions(args), UsageError) << ::testing::PrintToString(args);
  }
}

TEST(DaemonOptions, BoardComesFromTheOptionThenTheEnvironmentThenTheDefault) {
  ::unsetenv("RQ_BOARD");
  EXPECT_EQ(BoardName(DaemonOptions{}), "default");
  ::setenv("RQ_BOARD", "from-env", 1);
  EXPECT_EQ(BoardName(DaemonOptions{}), "from-env");
  DaemonOptions options;
  options.board = "from-option";
  EXPECT_EQ(BoardName(options), "from-option");
  ::unsetenv("RQ_BOARD");
}

TEST(Inspection, TextShowsTheStateForPeople) {
  const nlohmann::json state = {{"profile", "default"},
                                {"bios", "08/15/03-I845PE-KOL"},
                                {"fsbMhz", 133.333},
                                {"cpuMhz", 2400.0},
                                {"watchdog", {{"armed", true}, {"remainingMs", 35200}, {"timeoutMs", 40000}}},
                                {"hung", true},
                                {"resetCount", 2},
                                {"chips", {{{"name", "ics950218"}, {"fsb", 133.3}}}}};
  const std::string text = FormatInspection(state);
  EXPECT_THAT(text, HasSubstr("Board:     default"));
  EXPECT_THAT(text, HasSubstr("08/15/03-I845PE-KOL"));
  EXPECT_THAT(text, HasSubstr("133.33 MHz"));
  EXPECT_THAT(text, HasSubstr("2400.00 MHz"));
  EXPECT_THAT(text, HasSubstr("armed, 35.2 s left"));
  EXPECT_THAT(text, HasSubstr("Hung:      yes"));
  EXPECT_THAT(text, HasSubstr("Resets:    2"));
  EXPECT_THAT(text, HasSubstr("ics950218: {\"fsb\":133.3}"));
  EXPECT_THAT(FormatInspection({{"watchdog", {{"armed", false}}}}), HasSubstr("Watchdog:  off"));
}

TEST(Inspection, RealHardwareListsServedPortsAndThoseLeftToTheKernel) {
  const std::string text = FormatInspection(nlohmann::json::parse(
      R"({"realHardware": true, "ports": [{"what": "Intel SMBus host", "first": 1024, "last": 1055,
          "kernelDriver": "i801_smbus"}, {"what": "VIA SMBus host", "first": 1280, "last": 1295,
          "kernelDriver": "i2c_viapro", "servedThrough": "/dev/i2c-1"}]})"));
  EXPECT_THAT(
      text,
      HasSubstr("Ports:     0x0400-0x041F Intel SMBus host: left to the kernel's i801_smbus driver (unbind"));
  EXPECT_THAT(text, HasSubstr("0x0500-0x050F VIA SMBus host: left to the kernel's i2c_viapro driver, reached "
                              "through its adapter /dev/i2c-1\n"));
}

TEST(Inspection, TextShowsTheAnalogueSide) {
  const nlohmann::json state = {{"analog",
                                 {{"volts", {{"vcore", 1.5251}, {"v12", 12.1}, {"vn12", -11.98}}},
                                  {"cpuTempC", 47.26},
                                  {"boardTempC", 34.0},
                                  {"fanRpm", {{"cpu", 3100.4}, {"system", 0.0}}}}}};
  const std::string text = FormatInspection(state);
  EXPECT_THAT(text, HasSubstr("Supplies:  VCore 1.525 V, +12 12.100 V, -12 -11.980 V\n"));
  EXPECT_THAT(text, HasSubstr("Temps:     CPU 47.3 C, board 34.0 C\n"));
  EXPECT_THAT(text, HasSubstr("Fans:      CPU 3100 RPM, system 0 RPM\n"));
}

TEST(ControlServer, AnswersInspectAndRefusesOtherCommands) {
  test::TempDir dir;
  const std::string path = dir / "s.sock.ctl";
  ControlServer server(ListenUnix(path, SOCK_STREAM), [] { return std::string("{\"profile\":\"x\"}"); });
  server.Start();
  std::string answer;
  ASSERT_TRUE(ControlServer::Ask(path, "inspect", answer));
  EXPECT_EQ(answer, "{\"profile\":\"x\"}\n");
  ASSERT_TRUE(ControlServer::Ask(path, "reboot", answer));
  EXPECT_THAT(answer, HasSubstr("unknown command"));
  {
    Fd silent = ConnectUnix(path, SOCK_STREAM);  // says nothing, then leaves
  }
  ASSERT_TRUE(ControlServer::Ask(path, "inspect", answer));
  server.Stop();
  EXPECT_FALSE(ControlServer::Ask(path, "inspect", answer));
}

}  // namespace
}  // namespace rq::driver
