#include "devices/northbridge/FakePciDriver.h"
#include "protocol/Protocol.h"

namespace rq::devices::testing {

void FakePciDriver::SetHostWord(std::uint8_t reg, std::uint16_t value) {
  SetHostByte(reg, static_cast<std::uint8_t>(value));
  SetHostByte(static_cast<std::uint8_t>(reg + 1), static_cast<std::uint8_t>(value >> 8));
}

void FakePciDriver::SetIdentity(std::uint16_t vendor, std::uint16_t device) {
  SetHostWord(0x00, vendor);
  SetHostWord(0x02, device);
}

bool FakePciDriver::DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) {
  namespace pci = protocol::pci_request;
  if (failing_ || code != protocol::kIoctlReadPciConfigWord || length != pci::kLength) return false;
  const Read read{buffer[pci::kBus], buffer[pci::kDevice], buffer[pci::kFunction], buffer[pci::kRegister]};
  reads_.push_back(read);
  auto byteAt = [&](int reg) -> std::uint8_t {
    const auto found = bytes_.find({read.bus, read.device, read.function, reg});
    return found == bytes_.end() ? 0 : found->second;
  };
  buffer[pci::kValueRead] = byteAt(read.reg);
  buffer[pci::kValueRead + 1] = byteAt(read.reg + 1);
  return true;
}

}  // namespace rq::devices::testing
