#pragma once
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "sim/Chip.h"

namespace rq::sim {

// A device on the board's SMBus, as the wire sees it. A false result is a
// transfer the device did not acknowledge.
class SmbusDevice : public Chip {
 public:
  explicit SmbusDevice(std::uint8_t address7) : address7_(address7) {}
  std::uint8_t Address() const { return address7_; }  // 7-bit form

  virtual bool ReadByteData(std::uint8_t command, std::uint8_t& value) = 0;
  virtual bool WriteByteData(std::uint8_t command, std::uint8_t value) = 0;
  // Block read: the device reports its byte count (data.size() on return) and the bytes.
  virtual bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) = 0;
  virtual bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) = 0;

 private:
  std::uint8_t address7_;
};

// The devices attached to the host by address. An address with no device is
// simply not acknowledged; each host family reports that in its own way.
class SmbusBus {
 public:
  // Throws std::invalid_argument on a taken address or one beyond seven bits.
  void Attach(SmbusDevice& device);
  void Detach(SmbusDevice& device);
  SmbusDevice* Find(std::uint8_t address7) const;
  const std::map<std::uint8_t, SmbusDevice*>& Devices() const { return devices_; }

 private:
  std::map<std::uint8_t, SmbusDevice*> devices_;
};

}  // namespace rq::sim
