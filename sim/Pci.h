#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "sim/Chip.h"
#include "sim/PortSpace.h"

namespace rq::sim {

struct PciLocation {
  std::uint8_t bus = 0;
  std::uint8_t device = 0;
  std::uint8_t function = 0;
  auto operator<=>(const PciLocation&) const = default;
};

// "bus:device.function" as profiles write it ("0:31.3"); each part decimal or
// 0x-prefixed hex. Throws std::invalid_argument on anything else or out-of-range parts.
PciLocation ParsePciLocation(const std::string& text);
// The same form back, decimal ("0:31.3").
std::string FormatPciLocation(PciLocation location);

// One PCI function's 256-byte configuration space. The power-on image is what
// PowerOnReset restores; chips that model live registers override the accessors.
class PciFunction : public Chip {
 public:
  PciFunction(PciLocation location, const std::array<std::uint8_t, 256>& powerOn);
  PciLocation Location() const { return location_; }
  std::string Name() const override;
  void PowerOnReset() override { config_ = powerOn_; }
  nlohmann::json Inspect() const override;

  virtual std::uint8_t ReadConfigByte(std::uint8_t offset) const { return config_[offset]; }
  // The identity registers (IDs, revision, class, header type) are read-only, as in
  // hardware; everything else is plain storage unless a chip models it.
  virtual void WriteConfigByte(std::uint8_t offset, std::uint8_t value);
  // Little-endian; a word starting at 0xFF reads its missing high byte as 0xFF.
  std::uint16_t ReadConfigWord(std::uint8_t offset) const;
  std::uint16_t VendorId() const { return ReadConfigWord(0x00); }
  std::uint16_t DeviceId() const { return ReadConfigWord(0x02); }

 protected:
  std::array<std::uint8_t, 256>& Config() { return config_; }

 private:
  PciLocation location_;
  std::array<std::uint8_t, 256> powerOn_;
  std::array<std::uint8_t, 256> config_;
};

// PCI configuration space by bus, device and function, reachable directly and
// through configuration mechanism 1 (address at 0xCF8, data at 0xCFC-0xCFF).
// An empty location reads all ones.
class PciBus : public PortDevice {
 public:
  static constexpr std::uint16_t kConfigAddressPort = 0xCF8;
  static constexpr std::uint16_t kConfigDataPort = 0xCFC;

  // Claims 0xCF8-0xCFF of `ports` for configuration mechanism 1.
  void Attach(PortSpace& ports) { ports.Claim(kConfigAddressPort, kConfigDataPort + 3, *this); }
  void Add(PciFunction& function);  // throws std::invalid_argument on a taken location
  PciFunction* Find(PciLocation location) const;
  std::uint16_t ReadConfigWord(PciLocation location, std::uint8_t offset) const;
  const std::map<PciLocation, PciFunction*>& Functions() const { return functions_; }
  void Reset() { configAddress_ = 0; }

  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;

 private:
  // The function and register the address register selects; null when disabled or empty.
  PciFunction* Addressed() const;
  std::uint8_t AddressedRegister(std::uint16_t dataPort) const;

  std::map<PciLocation, PciFunction*> functions_;
  std::uint32_t configAddress_ = 0;
};

}  // namespace rq::sim
