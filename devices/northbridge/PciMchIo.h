#pragma once
#include <cstdint>
#include <string>

#include "devices/Candidates.h"
#include "hw/IOInterface.h"

namespace rq::devices {

// A north bridge (memory controller hub): recognised by its PCI identity, it turns
// an FSB into the memory clock by the ratio held in its configuration registers.
class PciMchIo : public hw::IOInterface {
 public:
  PciMchIo(std::string model, std::string description, bool k7Platform)
      : model_(std::move(model)), description_(std::move(description)), k7Platform_(k7Platform) {}

  virtual bool Detect() = 0;
  // Memory clock in MHz for an FSB in MHz, rounded to one decimal.
  virtual double GetMemoryClock(double fsb) = 0;

  const std::string& GetModel() const { return model_; }
  const std::string& GetDescription() const { return description_; }
  bool K7Platform() const { return k7Platform_; }

 protected:
  // Registers of the host bridge (bus 0, device 0, function 0). A failed read
  // gives 0, which the probes and ratio decoders simply take as a register of 0.
  std::uint16_t ReadHostWord(std::uint8_t offset) const { return ReadPciConfigWord(0, 0, 0, offset); }
  std::uint8_t ReadHostByte(std::uint8_t offset) const {
    return static_cast<std::uint8_t>(ReadHostWord(offset) & 0xFF);
  }

 private:
  std::string model_;
  std::string description_;
  bool k7Platform_;
};

// The 22 north bridges in detection order.
const CandidateList<PciMchIo>& NorthBridgeCandidates();

}  // namespace rq::devices
