#pragma once
#include <cstdint>
#include <map>

namespace rq::sim {

// A chip's I/O ports. The port space calls In/Out with the absolute port number.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  virtual std::uint8_t In(std::uint16_t port) = 0;
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
};

// The 64 KiB ISA/PCI I/O space. Chips claim ranges; a port nobody claims reads
// 0xFF and ignores writes, as on a real bus. Overlapping claims are refused.
class PortSpace {
 public:
  // Throws std::invalid_argument when [first, last] overlaps a claimed range.
  void Claim(std::uint16_t first, std::uint16_t last, PortDevice& device);
  void Release(PortDevice& device);
  std::uint8_t In(std::uint16_t port);
  void Out(std::uint16_t port, std::uint8_t value);
  bool Claimed(std::uint16_t port) const;

 private:
  struct Range {
    std::uint16_t last;
    PortDevice* device;
  };
  PortDevice* Find(std::uint16_t port) const;
  std::map<std::uint16_t, Range> ranges_;  // keyed by first port
};

}  // namespace rq::sim
