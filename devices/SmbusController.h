#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "hw/I2CIo.h"

namespace rq::devices {

// The SMBus controller a chip on the bus talks through, with the host kind it was
// made for. A null controller means the chip is not reached on this host.
struct SmbusController {
  std::unique_ptr<hw::I2CIo> controller;
  std::int16_t hostKind = hw::kHostNone;
};

// Probes the SMBus host and, when its kind is one of `kinds`, creates the matching
// controller aimed at `address` (8-bit form). Any other host, and a failed probe,
// give a null controller (the kind is still reported when a host was found).
SmbusController OpenSmbusController(std::uint8_t address, std::initializer_list<std::int16_t> kinds);

}  // namespace rq::devices
