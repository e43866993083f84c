#include <optional>

#include "devices/SmbusController.h"
#include "devices/clockgen/ClockGenSupport.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/clockgen/RegisterSnapshot.h"

namespace rq::devices {

namespace {
constexpr std::uint8_t kClockGeneratorAddress = 0xD2;  // 7-bit 0x69
}  // namespace

ClockGenBus OpenClockGenBus() {
  // The nVidia MCP's bus carries no clock generator we drive.
  SmbusController bus = OpenSmbusController(
      kClockGeneratorAddress, {hw::kHostIntelICH2, hw::kHostIntelICH4, hw::kHostIntelICH5, hw::kHostVIA8233A,
                               hw::kHostVIA8235, hw::kHostVIA8237, hw::kHostSis962});
  return {std::move(bus.controller), bus.hostKind};
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
  clocks.read = !snapshot.has_value() || !snapshot->ReadFailed();
  return clocks;
}

}  // namespace rq::devices
