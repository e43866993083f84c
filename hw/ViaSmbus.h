#pragma once
#include "hw/SmbusHost.h"

namespace rq::hw {

// The VIA SMBus host: the ICH register layout, a 32-byte block buffer filled before
// or emptied after the transaction, and a status test that costs 5 ms.
class ViaSmbus : public SmbusHostIo {
 public:
  using SmbusHostIo::SmbusHostIo;

  void ClearStatus() override;
  bool IsByteDone() override;
  bool IsBusy() override;
  bool IsIdle() override;
  bool IsComplete() override;
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

 private:
  enum class Kind { kByte, kBlock };
  bool StatusBit(std::uint8_t bit);
  bool Failed();
  // Clears the status and aborts what the host still runs; false when it stays busy.
  bool Preamble(Kind kind);
  bool AwaitCompletion();
  void Finish();
  void Abort();
};

class VIA8233AI2CIo final : public ViaSmbus {
 public:
  using ViaSmbus::ViaSmbus;
};
class VIA8235I2CIo final : public ViaSmbus {
 public:
  using ViaSmbus::ViaSmbus;
};
class VIA8237I2CIo final : public ViaSmbus {
 public:
  using ViaSmbus::ViaSmbus;
};

}  // namespace rq::hw
