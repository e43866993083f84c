#include <optional>

#include "devices/clockgen/ClockGenSupport.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/clockgen/RegisterSnapshot.h"

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

DerivedClocks I2cClockGenIo::ReadClocks() {
  // The sequences the chip code opens inside this one only join it: the bus is
  // taken once, and a part that needs quiet after its transfers gets it once.
  clockgen::BusSequence sequence;
  std::optional<clockgen::RegisterSnapshot> snapshot;
  if (bus_ != nullptr) snapshot.emplace(*bus_);
  struct Restore {
    hw::I2CIo*& bus;
    ~Restore() { bus = nullptr; }
  } restore{snapshot_};
  if (snapshot.has_value()) snapshot_ = &*snapshot;
  PrefetchClockRegisters();
  DerivedClocks clocks;
  clocks.fsb = GetFsb();
  clocks.agp = GetAgpClock(clocks.fsb);
  clocks.pci = GetPciClock(clocks.fsb);
  return clocks;
}

}  // namespace rq::devices
