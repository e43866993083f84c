#include "sim/Pci.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace rq::sim {

namespace {

// Configuration mechanism 1 address register layout.
constexpr std::uint32_t kConfigEnable = 0x80000000U;
constexpr unsigned kBusShift = 16;
constexpr unsigned kDeviceShift = 11;
constexpr unsigned kFunctionShift = 8;
constexpr std::uint32_t kRegisterMask = 0xFC;

constexpr unsigned kMaxDevice = 31;
constexpr unsigned kMaxFunction = 7;

// Identity registers that software cannot change.
constexpr std::uint8_t kVendorId = 0x00;
constexpr std::uint8_t kDeviceIdEnd = 0x03;
constexpr std::uint8_t kRevisionId = 0x08;
constexpr std::uint8_t kClassCodeEnd = 0x0B;
constexpr std::uint8_t kHeaderType = 0x0E;

bool ReadOnly(std::uint8_t offset) {
  return offset <= kDeviceIdEnd || (offset >= kRevisionId && offset <= kClassCodeEnd) ||
         offset == kHeaderType;
}

unsigned ParsePart(std::string_view part, unsigned max, const std::string& whole) {
  int base = 10;
  if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    part.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value, base);
  if (part.empty() || error != std::errc() || end != part.data() + part.size()) {
    throw std::invalid_argument("PCI location \"" + whole + "\" is not of the form bus:device.function");
  }
  if (value > max) {
    throw std::invalid_argument("PCI location \"" + whole + "\" has a part above " + std::to_string(max));
  }
  return value;
}

}  // namespace

PciLocation ParsePciLocation(const std::string& text) {
  const auto colon = text.find(':');
  const auto dot = text.find('.', colon == std::string::npos ? 0 : colon);
  if (colon == std::string::npos || dot == std::string::npos) {
    throw std::invalid_argument("PCI location \"" + text + "\" is not of the form bus:device.function");
  }
  const std::string_view view(text);
  PciLocation location;
  location.bus = static_cast<std::uint8_t>(ParsePart(view.substr(0, colon), 0xFF, text));
  location.device =
      static_cast<std::uint8_t>(ParsePart(view.substr(colon + 1, dot - colon - 1), kMaxDevice, text));
  location.function = static_cast<std::uint8_t>(ParsePart(view.substr(dot + 1), kMaxFunction, text));
  return location;
}

std::string FormatPciLocation(PciLocation location) {
  return std::to_string(location.bus) + ":" + std::to_string(location.device) + "." +
         std::to_string(location.function);
}

PciFunction::PciFunction(PciLocation location, const std::array<std::uint8_t, 256>& powerOn)
    : location_(location), powerOn_(powerOn), config_(powerOn) {}

std::string PciFunction::Name() const { return "pci " + FormatPciLocation(location_); }

nlohmann::json PciFunction::Inspect() const {
  char id[16];
  std::snprintf(id, sizeof id, "%04x:%04x", VendorId(), DeviceId());
  return {{"location", FormatPciLocation(location_)}, {"id", id}, {"revision", ReadConfigByte(kRevisionId)}};
}

void PciFunction::WriteConfigByte(std::uint8_t offset, std::uint8_t value) {
  if (!ReadOnly(offset)) {
    config_[offset] = value;
  }
}

std::uint16_t PciFunction::ReadConfigWord(std::uint8_t offset) const {
  const std::uint8_t high = offset == 0xFF ? 0xFF : ReadConfigByte(static_cast<std::uint8_t>(offset + 1));
  return static_cast<std::uint16_t>(ReadConfigByte(offset) | high << 8);
}

void PciBus::Add(PciFunction& function) {
  if (!functions_.emplace(function.Location(), &function).second) {
    throw std::invalid_argument("PCI location " + FormatPciLocation(function.Location()) + " is taken");
  }
}

PciFunction* PciBus::Find(PciLocation location) const {
  auto found = functions_.find(location);
  return found != functions_.end() ? found->second : nullptr;
}

std::uint16_t PciBus::ReadConfigWord(PciLocation location, std::uint8_t offset) const {
  const PciFunction* function = Find(location);
  return function != nullptr ? function->ReadConfigWord(offset) : 0xFFFF;
}

PciFunction* PciBus::Addressed() const {
  if ((configAddress_ & kConfigEnable) == 0) {
    return nullptr;
  }
  return Find({static_cast<std::uint8_t>(configAddress_ >> kBusShift),
               static_cast<std::uint8_t>((configAddress_ >> kDeviceShift) & kMaxDevice),
               static_cast<std::uint8_t>((configAddress_ >> kFunctionShift) & kMaxFunction)});
}

std::uint8_t PciBus::AddressedRegister(std::uint16_t dataPort) const {
  return static_cast<std::uint8_t>((configAddress_ & kRegisterMask) + (dataPort - kConfigDataPort));
}

std::uint8_t PciBus::In(std::uint16_t port) {
  if (port < kConfigDataPort) {
    return static_cast<std::uint8_t>(configAddress_ >> (8 * (port - kConfigAddressPort)));
  }
  const PciFunction* function = Addressed();
  return function != nullptr ? function->ReadConfigByte(AddressedRegister(port)) : 0xFF;
}

void PciBus::Out(std::uint16_t port, std::uint8_t value) {
  if (port < kConfigDataPort) {
    const unsigned shift = 8 * (port - kConfigAddressPort);
    configAddress_ = (configAddress_ & ~(0xFFU << shift)) | static_cast<std::uint32_t>(value) << shift;
    return;
  }
  if (PciFunction* function = Addressed()) {
    function->WriteConfigByte(AddressedRegister(port), value);
  }
}

}  // namespace rq::sim
