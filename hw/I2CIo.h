#pragma once
#include <cstdint>
#include <memory>

#include "hw/IOInterface.h"

namespace rq::hw {

// SMBus host kind codes; clients switch on these numbers.
enum HostKind : std::int16_t {
  kHostNone = 0,
  kHostIntelICH2 = 101,
  kHostIntelICH4 = 102,
  kHostIntelICH5 = 103,
  kHostVIA8233A = 301,
  kHostVIA8235 = 302,
  kHostVIA8237 = 303,
  kHostSis962 = 501,
  kHostNVidiaMCP = 901,
};

// Process-wide host state, set only by a successful probe.
struct SmbusHostState {
  std::int16_t kind = kHostNone;
  std::uint16_t base = 0;
  // The driver reaches the host through the kernel's adapter of it, not its ports.
  bool kernelAdapter = false;
};
SmbusHostState& ProcessSmbusHost();

// Finds the south bridge's SMBus host once; later calls return true at once.
bool DetectSmbusHost();

// One SMBus host family. Buffers hold one byte per 32-bit entry; `start` is both
// the command byte and the index of the first entry used.
class I2CIo : public IOInterface {
 public:
  explicit I2CIo(std::uint8_t deviceAddress) : deviceAddress_(deviceAddress) {}
  std::uint8_t DeviceAddress() const { return deviceAddress_; }  // 8-bit form, bit 0 clear

  virtual void ClearStatus() = 0;
  virtual bool IsByteDone() = 0;
  virtual bool IsBusy() = 0;
  virtual bool IsIdle() = 0;
  virtual bool IsComplete() = 0;
  virtual unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) = 0;
  virtual unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) = 0;
  virtual bool ReadByte(std::uint32_t* value, std::uint8_t command) = 0;
  virtual void WriteByte(std::uint8_t value, std::uint8_t command) = 0;

 private:
  std::uint8_t deviceAddress_;
};

// The host class for a kind code, or null for an unknown kind.
std::unique_ptr<I2CIo> CreateI2CIo(std::int16_t kind, std::uint8_t deviceAddress);
// The class for the host the probe found: the kernel adapter's when the driver
// reaches the host through one, else the port-level class of its kind.
std::unique_ptr<I2CIo> CreateI2CIo(const SmbusHostState& host, std::uint8_t deviceAddress);

}  // namespace rq::hw
