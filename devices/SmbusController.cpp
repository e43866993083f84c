#include "devices/SmbusController.h"

#include <algorithm>

namespace rq::devices {

SmbusController OpenSmbusController(std::uint8_t address, std::initializer_list<std::int16_t> kinds) {
  SmbusController bus;
  if (!hw::DetectSmbusHost()) return bus;
  bus.hostKind = hw::ProcessSmbusHost().kind;
  if (std::find(kinds.begin(), kinds.end(), bus.hostKind) != kinds.end()) {
    bus.controller = hw::CreateI2CIo(bus.hostKind, address);
  }
  return bus;
}

}  // namespace rq::devices
