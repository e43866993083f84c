#include "devices/clockgen/I2cClockGenIo.h"

namespace rq::devices {

namespace {
constexpr std::uint8_t kClockGeneratorAddress = 0xD2;  // 7-bit 0x69
}  // namespace

ClockGenBus OpenClockGenBus() {
  ClockGenBus bus;
  if (!hw::DetectSmbusHost()) return bus;
  bus.hostKind = hw::ProcessSmbusHost().kind;
  switch (bus.hostKind) {
    case hw::kHostIntelICH2:
    case hw::kHostIntelICH4:
    case hw::kHostIntelICH5:
    case hw::kHostVIA8233A:
    case hw::kHostVIA8235:
    case hw::kHostVIA8237:
    case hw::kHostSis962:
      bus.controller = hw::CreateI2CIo(bus.hostKind, kClockGeneratorAddress);
      break;
    default:  // the nVidia MCP's bus carries no clock generator we drive
      break;
  }
  return bus;
}

}  // namespace rq::devices
