#pragma once
#include <cstdint>

#include "devices/gpiovolt/GpioVoltIo.h"

namespace rq::devices {

// One GPIO pin: a bit of a register of the south bridge's GPIO block.
struct GpioPin {
  std::uint8_t offset;
  int bit;
};
// The two pins of a level: level = low + 2 × high.
struct LevelPins {
  GpioPin low;
  GpioPin high;
};

// South bridges whose levels read from, and write to, two pins each.
class PinLevelGpioVoltIo : public GpioVoltIo {
 protected:
  PinLevelGpioVoltIo(const Traits& traits, LevelPins core, LevelPins memory);
  std::optional<int> ReadCoreLevel(const Block& block) const override;
  void WriteCoreLevel(const Block& block, int level) const override;
  std::optional<int> ReadMemoryLevel(const Block& block) const override;
  void WriteMemoryLevel(const Block& block, int level) const override;

  static std::optional<int> ReadPins(const Block& block, LevelPins pins);
  static void WritePins(const Block& block, LevelPins pins, int level);

 private:
  LevelPins core_;
  LevelPins memory_;
};

// The ICH2 board wires one pair of pins to both regulators.
class ICH2GpioVoltIo final : public PinLevelGpioVoltIo {
 public:
  ICH2GpioVoltIo();
};

class ICH4GpioVoltIo final : public PinLevelGpioVoltIo {
 public:
  ICH4GpioVoltIo();
};

class ICH5GpioVoltIo final : public PinLevelGpioVoltIo {
 public:
  ICH5GpioVoltIo();
};

// The VIA south bridges read their pins from the input registers and drive them
// through the output registers four above.
class ViaGpioVoltIo : public PinLevelGpioVoltIo {
 protected:
  explicit ViaGpioVoltIo(const Traits& traits);
  void WriteCoreLevel(const Block& block, int level) const override;
  void WriteMemoryLevel(const Block& block, int level) const override;
};

class VT8235GpioVoltIo final : public ViaGpioVoltIo {
 public:
  VT8235GpioVoltIo();
};

class VT8237GpioVoltIo final : public ViaGpioVoltIo {
 public:
  VT8237GpioVoltIo();
};

class SIS962GpioVoltIo final : public PinLevelGpioVoltIo {
 public:
  SIS962GpioVoltIo();

 protected:
  void WriteCoreLevel(const Block& block, int level) const override;
};

}  // namespace rq::devices
