// The opt-in trace a user turns on for a problem report: one line for each fault
// the program otherwise absorbs quietly, naming port and register; silent unless asked.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "hw/SmbusHost.h"
#include "platform/TestSupport.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using testing::ScriptedHostBackend;

constexpr std::uint16_t kBase = 0x0400;

// A scripted host whose driver refuses reading `refusedPort`.
class FaultyHost : public ScriptedHostBackend {
 public:
  bool ReadPort(std::uint16_t port, std::uint8_t& value) override {
    if (port == refusedPort) return false;
    return ScriptedHostBackend::ReadPort(port, value);
  }
  std::uint16_t refusedPort = 0;
};

TEST(Trace, EachFaultIsOneLineWithPortAndRegisterAndNothingWithoutTheVariable) {
  const struct {
    const char* fault;
    std::function<void(FaultyHost&)> arrange;
    const char* line;
  } cases[] = {
      {"device error after the start",
       [](FaultyHost& host) {
         // Idle until the byte transaction starts (control 0x48), then a device error.
         host.onIn = [&host](std::uint16_t port, std::uint8_t last) {
           if (port != kBase) return last;
           return host.Wrote(kBase + 2, 0x48) ? std::uint8_t{0x04} : std::uint8_t{0x00};
         };
       },
       "rhomboquest trace: SMBus host error 0x04: host at port 0x0400, device 0xD2, register 0x10\n"},
      {"stuck busy",
       [](FaultyHost& host) {
         host.onIn = [](std::uint16_t port, std::uint8_t last) { return port == kBase ? 0x01 : last; };
       },
       "rhomboquest trace: SMBus time-out after 250 ms: host at port 0x0400, device 0xD2, register 0x10\n"},
      {"status read refused", [](FaultyHost& host) { host.refusedPort = kBase; }, nullptr},
  };
  for (const auto& c : cases) {
    for (const bool traced : {true, false}) {
      SCOPED_TRACE(std::string(c.fault) + (traced ? ", traced" : ", silent"));
      platform::test::ScopedEnv variable("RQ_TRACE", traced ? std::optional<std::string>("1") : std::nullopt);
      FaultyHost host;
      HostFixtureScope scope(host);
      ProcessSmbusHost() = {kHostIntelICH5, kBase};
      c.arrange(host);
      std::uint32_t value = 0;
      ::testing::internal::CaptureStderr();
      EXPECT_FALSE(CreateI2CIo(kHostIntelICH5, 0xD2)->ReadByte(&value, 0x10));
      const std::string output = ::testing::internal::GetCapturedStderr();
      if (!traced) {
        EXPECT_EQ(output, "");
      } else if (c.line != nullptr) {
        EXPECT_EQ(output, c.line);
      } else {
        EXPECT_EQ(output.rfind("rhomboquest trace: driver refused reading port 0x0400\n", 0), 0u) << output;
      }
    }
  }
}

}  // namespace
}  // namespace rq::hw
