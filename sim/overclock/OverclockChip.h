#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "sim/Smbus.h"

namespace rq::sim {

class Analog;

// A jumper-free overclock controller on the SMBus (normally at 0x4E). It sits
// between the CPU's VID pins and the core regulator: register 1 reports the code
// the CPU asks for, and a code written with the enable bit to the override
// register drives the regulator instead. Two of its general-purpose pins select
// the memory regulator's voltage once they are configured as outputs.
//
// Registers (a byte each; 16 of them answer, others are not acknowledged):
//   override (0, or 10 on the variant some boards use)
//       bits 4..0 a VID code, bit 5 enables it. Bits 7..6 read 0.
//   1   the CPU's VID code, read-only.
//   5   pin direction: a set bit leaves its pin an input (power-on 0xFF); a clear
//       bit drives it from the data register.
//   6   pin data: writes go to the output latch (power-on 0xFF); reads give the
//       latch for output pins and the pulled-up level (1) for input pins.
// The memory regulator follows the pins only while both of its pins are outputs;
// otherwise it stays at the board's own setting.
class OverclockChip : public SmbusDevice {
 public:
  struct Variant {
    const char* type;
    // Lowest of the two memory-select pins in the data register.
    unsigned memoryPinShift;
  };
  static const Variant kAtxp3;
  static const Variant kAtxp1;

  static constexpr std::uint8_t kDefaultAddress = 0x4E;
  static constexpr std::uint8_t kRegisterCount = 16;
  static constexpr std::uint8_t kVidRegister = 1;
  static constexpr std::uint8_t kDirectionRegister = 5;
  static constexpr std::uint8_t kDataRegister = 6;

  OverclockChip(const Variant& variant, std::uint8_t address7, std::uint8_t overrideRegister, Analog& analog);

  std::string Name() const override { return variant_.type; }
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;

  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override;
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override;
  // Byte protocols only.
  bool BlockRead(std::uint8_t, std::vector<std::uint8_t>&) override { return false; }
  bool BlockWrite(std::uint8_t, std::span<const std::uint8_t>) override { return false; }

  // What the CPU's VID pins say, as a 5-bit code.
  std::uint8_t CpuVidCode() const;

 private:
  std::uint8_t Register(std::uint8_t reg) const;
  bool OverrideEnabled() const;
  bool MemoryPinsDriven() const;
  std::uint8_t MemoryCode() const;
  // Hands the regulators what the registers now ask for.
  void DriveCore();
  void DriveMemory();

  Variant variant_;
  std::uint8_t overrideRegister_;
  Analog& analog_;
  std::array<std::uint8_t, kRegisterCount> registers_{};
};

}  // namespace rq::sim
