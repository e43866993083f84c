#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace rq::driver {

// Asks the kernel whether one of its drivers already drives a block of ports: the
// driver bound to the PCI function behind the block, else a driver's claim in the
// I/O port list. Two masters on one SMBus host or monitor chip interleave their
// transactions; a block a kernel driver owns is left to it.
class KernelOwnership {
 public:
  KernelOwnership(std::string sysfsRoot, std::string ioportsPath)
      : sysfsRoot_(std::move(sysfsRoot)), ioportsPath_(std::move(ioportsPath)) {}

  struct PciFunction {
    std::uint8_t bus, device, function;
  };
  // The owning driver's name, or nothing when no driver owns any port of the block.
  std::optional<std::string> Owner(std::uint16_t first, std::uint16_t last,
                                   std::optional<PciFunction> function) const;

 private:
  std::optional<std::string> BoundDriver(PciFunction function) const;
  std::optional<std::string> PortClaimant(std::uint16_t first, std::uint16_t last) const;

  std::string sysfsRoot_;
  std::string ioportsPath_;
};

}  // namespace rq::driver
