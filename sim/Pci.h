#pragma once
#include <array>
#include <cstdint>
#include <map>
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
  virtual void WriteConfigByte(std::uint8_t offset, std::uint8_t value);
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

  void Add(PciFunction& function);  // throws std::invalid_argument on a taken location
  PciFunction* Find(PciLocation location) const;
  std::uint16_t ReadConfigWord(PciLocation location, std::uint8_t offset) const;
  void Reset() { configAddress_ = 0; }

  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;

 private:
  std::map<PciLocation, PciFunction*> functions_;
  std::uint32_t configAddress_ = 0;
};

}  // namespace rq::sim
