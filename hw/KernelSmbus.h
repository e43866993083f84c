#pragma once
#include <cstdint>
#include <span>

#include "hw/I2CIo.h"

namespace rq::hw {

// Whether the driver reaches the SMBus host at `base` through the kernel's adapter
// of it (the kernel's driver owns the host's registers) rather than through them.
bool KernelAdapterServes(std::uint16_t base);

// The SMBus host as the kernel's adapter drives it: each operation is one whole
// transaction the driver performs, so there is no host state to poll or clear.
// Requests carry the host's base port, which also keys its bus lock: the
// port-level host of the same board and this one exclude each other.
class KernelSmbusIo final : public I2CIo {
 public:
  using I2CIo::I2CIo;

  void ClearStatus() override {}
  bool IsByteDone() override { return false; }
  bool IsBusy() override { return false; }
  bool IsIdle() override { return true; }
  bool IsComplete() override { return true; }
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

 private:
  // One transaction; `data` goes out for a write and holds what came for a read
  // (`count` tells how much). False when the driver refused or the slave did not answer.
  bool Transact(std::uint32_t kind, std::uint8_t command, std::span<std::uint8_t> data,
                unsigned& count) const;
};

}  // namespace rq::hw
