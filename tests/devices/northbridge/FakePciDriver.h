#pragma once
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "hw/DriverHandle.h"

namespace rq::devices::testing {

// A driver that answers PCI configuration word requests from a byte table (absent
// bytes read 0) and records every read, so tests can follow a probe step by step.
class FakePciDriver : public hw::DriverHandle {
 public:
  struct Read {
    std::uint8_t bus, device, function, reg;
    auto operator<=>(const Read&) const = default;
  };

  void SetByte(std::uint8_t function, std::uint8_t reg, std::uint8_t value) {
    bytes_[{0, 0, function, reg}] = value;
  }
  void SetHostByte(std::uint8_t reg, std::uint8_t value) { SetByte(0, reg, value); }
  void SetHostWord(std::uint8_t reg, std::uint16_t value);
  void SetIdentity(std::uint16_t vendor, std::uint16_t device);
  void FailEveryRequest() { failing_ = true; }

  const std::vector<Read>& Reads() const { return reads_; }
  void ClearReads() { reads_.clear(); }

  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;

 private:
  std::map<std::tuple<int, int, int, int>, std::uint8_t> bytes_;
  std::vector<Read> reads_;
  bool failing_ = false;
};

}  // namespace rq::devices::testing
