#include "sim/Smbus.h"

#include <cstdio>
#include <stdexcept>

namespace rq::sim {

namespace {
constexpr std::uint8_t kMaxAddress7 = 0x7F;

std::string AddressText(std::uint8_t address7) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", address7);
  return text;
}
}  // namespace

void SmbusBus::Attach(SmbusDevice& device) {
  if (device.Address() > kMaxAddress7) {
    throw std::invalid_argument("SMBus address " + AddressText(device.Address()) + " is not a 7-bit address");
  }
  if (!devices_.emplace(device.Address(), &device).second) {
    throw std::invalid_argument("SMBus address " + AddressText(device.Address()) + " is taken");
  }
}

void SmbusBus::Detach(SmbusDevice& device) {
  auto found = devices_.find(device.Address());
  if (found != devices_.end() && found->second == &device) {
    devices_.erase(found);
  }
}

SmbusDevice* SmbusBus::Find(std::uint8_t address7) const {
  auto found = devices_.find(address7);
  return found != devices_.end() ? found->second : nullptr;
}

}  // namespace rq::sim
