#include <gtest/gtest.h>

#include "hw/IntelIchSmbus.h"
#include "hw/NvidiaSmbus.h"
#include "hw/SisSmbus.h"
#include "hw/SmbusHost.h"
#include "hw/ViaSmbus.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using testing::ScriptedHostBackend;

struct HostCase {
  std::uint8_t device, function;
  std::uint16_t vendor, deviceId;
  std::uint8_t baseRegister;  // 0: fixed base
  std::int16_t kind;
};

const HostCase kCases[] = {
    {31, 3, 0x8086, 0x2443, 0x20, kHostIntelICH2}, {31, 3, 0x8086, 0x24C3, 0x20, kHostIntelICH4},
    {31, 3, 0x8086, 0x24D3, 0x20, kHostIntelICH5}, {17, 0, 0x1106, 0x3147, 0xD0, kHostVIA8233A},
    {17, 0, 0x1106, 0x3177, 0xD0, kHostVIA8235},   {17, 0, 0x1106, 0x3227, 0xD0, kHostVIA8237},
    {1, 1, 0x10DE, 0x0064, 0x54, kHostNVidiaMCP},  {2, 0, 0x1039, 0x0008, 0, kHostSis962},
};

void Place(ScriptedHostBackend& backend, const HostCase& host, std::uint16_t baseWord) {
  backend.SetPciWord(0, host.device, host.function, 0x00, host.vendor);
  backend.SetPciWord(0, host.device, host.function, 0x02, host.deviceId);
  if (host.baseRegister != 0) backend.SetPciWord(0, host.device, host.function, host.baseRegister, baseWord);
}

TEST(SmbusProbe, FindsEveryKnownHostWithItsBaseAndKind) {
  for (const HostCase& host : kCases) {
    SCOPED_TRACE(host.kind);
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    Place(backend, host, 0x0E01);
    ASSERT_TRUE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, host.kind);
    EXPECT_EQ(ProcessSmbusHost().base, host.baseRegister != 0 ? 0x0E00 : 0x10C0);
    const auto io = CreateI2CIo(ProcessSmbusHost().kind, 0xD2);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->DeviceAddress(), 0xD2);
  }
}

TEST(SmbusProbe, SecondProbeAfterSuccessTouchesNoPciAndFailedProbeTriesAgain) {
  ScriptedHostBackend backend;
  HostFixtureScope scope(backend);
  EXPECT_FALSE(DetectSmbusHost());
  EXPECT_EQ(ProcessSmbusHost().kind, kHostNone);
  const unsigned afterEmptyProbe = backend.pciReads;
  EXPECT_GE(afterEmptyProbe, 4u);  // every location looked at

  Place(backend, kCases[5], 0x0400);
  ASSERT_TRUE(DetectSmbusHost());
  const unsigned afterSuccess = backend.pciReads;
  EXPECT_GT(afterSuccess, afterEmptyProbe);
  EXPECT_TRUE(DetectSmbusHost());
  EXPECT_EQ(backend.pciReads, afterSuccess);
  EXPECT_EQ(ProcessSmbusHost().kind, kHostVIA8237);
}

TEST(SmbusProbe, FirstLocationInOrderWinsAndAnUnknownDeviceEndsTheProbe) {
  {
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    Place(backend, kCases[7], 0);       // SiS
    Place(backend, kCases[0], 0x0401);  // ICH2
    ASSERT_TRUE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, kHostIntelICH2);
  }
  {
    ScriptedHostBackend backend;
    HostFixtureScope scope(backend);
    backend.SetPciWord(0, 31, 3, 0x00, 0x8086);
    backend.SetPciWord(0, 31, 3, 0x02, 0x1234);  // an Intel function we do not know
    Place(backend, kCases[6], 0x5001);           // an nVidia host further down the list
    EXPECT_FALSE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, kHostNone);
  }
}

TEST(SmbusProbe, WithoutADriverOrWithAnUnassignedBaseNothingIsFound) {
  ScriptedHostBackend backend;
  {
    HostFixtureScope scope(backend);
    Place(backend, kCases[2], 0x0001);  // base register never programmed
    EXPECT_FALSE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, kHostNone);
  }
  SmbusHostState saved = ProcessSmbusHost();
  ProcessSmbusHost() = {};
  {
    ScopedDriverHandle noDriver(nullptr);
    EXPECT_FALSE(DetectSmbusHost());
    EXPECT_EQ(ProcessSmbusHost().kind, kHostNone);
  }
  ProcessSmbusHost() = saved;
}

TEST(SmbusProbe, KindCodesMakeTheirHostClasses) {
  EXPECT_NE(dynamic_cast<IntelICH2Io*>(CreateI2CIo(101, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<IntelICH4Io*>(CreateI2CIo(102, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<IntelICH5Io*>(CreateI2CIo(103, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<VIA8233AI2CIo*>(CreateI2CIo(301, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<VIA8235I2CIo*>(CreateI2CIo(302, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<VIA8237I2CIo*>(CreateI2CIo(303, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<Sis962Io*>(CreateI2CIo(501, 0xD2).get()), nullptr);
  EXPECT_NE(dynamic_cast<nVidiaMCPIo*>(CreateI2CIo(901, 0x9C).get()), nullptr);
  EXPECT_EQ(CreateI2CIo(0, 0xD2), nullptr);
  EXPECT_EQ(CreateI2CIo(104, 0xD2), nullptr);
}

}  // namespace
}  // namespace rq::hw
