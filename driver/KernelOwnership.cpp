#include "driver/KernelOwnership.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace rq::driver {
namespace {

// Claims in the port list that are no driver: the buses' windows, firmware and
// plug-and-play reservations, ACPI's fixed registers (whose writes the gates
// refuse anyway) and the PCI functions' own base-register resources, which a
// driver's claim nests under when there is one.
constexpr std::array<std::string_view, 5> kContainerPrefixes = {"PCI Bus", "pnp ", "reserved", "ACPI ",
                                                                "0000:"};

bool IsContainer(std::string_view name) {
  for (const std::string_view prefix : kContainerPrefixes) {
    if (name.starts_with(prefix)) return true;
  }
  return false;
}

// One line of the port list: "  0290-0297 : w83627hf", nested by indentation.
struct Claim {
  unsigned first = 0, last = 0;
  std::string name;
};

std::optional<Claim> ParseClaim(const std::string& line) {
  Claim claim;
  int nameAt = 0;
  if (std::sscanf(line.c_str(), " %x-%x : %n", &claim.first, &claim.last, &nameAt) != 2 || nameAt == 0)
    return std::nullopt;
  claim.name = line.substr(static_cast<std::size_t>(nameAt));
  return claim;
}

}  // namespace

std::optional<std::string> KernelOwnership::Owner(std::uint16_t first, std::uint16_t last,
                                                  std::optional<PciFunction> function) const {
  if (function) {
    if (auto driver = BoundDriver(*function)) return driver;
  }
  return PortClaimant(first, last);
}

// The function's "driver" entry links to the driver's folder, named as the driver.
std::optional<std::string> KernelOwnership::BoundDriver(PciFunction function) const {
  char name[32];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", function.bus, function.device, function.function);
  std::error_code error;
  const auto target = std::filesystem::read_symlink(
      std::filesystem::path(sysfsRoot_) / "bus/pci/devices" / name / "driver", error);
  if (error) return std::nullopt;
  return target.filename().string();
}

std::optional<std::string> KernelOwnership::PortClaimant(std::uint16_t first, std::uint16_t last) const {
  std::ifstream list(ioportsPath_);
  std::string line;
  while (std::getline(list, line)) {
    const auto claim = ParseClaim(line);
    if (!claim || IsContainer(claim->name) || claim->last < first || claim->first > last) continue;
    return claim->name;
  }
  return std::nullopt;
}

}  // namespace rq::driver
