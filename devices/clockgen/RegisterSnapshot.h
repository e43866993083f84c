#pragma once
// A clock generator's registers as read once: repeated reads within one reading of
// the derived clocks are answered from what the chip already said, so each register
// crosses the bus once per reading.
#include <array>
#include <cstdint>
#include <map>

#include "hw/I2CIo.h"

namespace rq::devices::clockgen {

// Stands in for the chip's controller while a snapshot is taken. A block read is
// answered from the snapshot only when every register it asks for was read before
// (by block), a byte read when the same command was read before; anything else goes
// to the chip and is remembered. A write goes to the chip and forgets everything.
class RegisterSnapshot : public hw::I2CIo {
 public:
  explicit RegisterSnapshot(hw::I2CIo& chip) : I2CIo(chip.DeviceAddress()), chip_(chip) {}

  void ClearStatus() override { chip_.ClearStatus(); }
  bool IsByteDone() override { return chip_.IsByteDone(); }
  bool IsBusy() override { return chip_.IsBusy(); }
  bool IsIdle() override { return chip_.IsIdle(); }
  bool IsComplete() override { return chip_.IsComplete(); }
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

  // True once a read the chip was asked for brought nothing back: what was derived
  // from it is the zeroed image's arithmetic, not the chip's clock.
  bool ReadFailed() const { return readFailed_; }

 private:
  void Forget();

  hw::I2CIo& chip_;
  std::array<std::int32_t, 256> blockRegisters_{};
  std::array<bool, 256> blockKnown_{};
  std::map<std::uint8_t, std::uint32_t> byteReads_;
  bool readFailed_ = false;
};

}  // namespace rq::devices::clockgen
