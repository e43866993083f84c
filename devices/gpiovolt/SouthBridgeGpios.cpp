#include "devices/gpiovolt/SouthBridgeGpios.h"

namespace rq::devices {

namespace {

// Identity, GPIO base register and per-family quirks of each south bridge.
//                      model, description,
//                      identity (b:d:f, offset), vendor, device, base word (b:d:f, offset),
//                      core level map, default offset, settle ms, raise from, first target, memory raise,
//                      dump window (first offset, 16-byte rows)
constexpr GpioVoltIo::Traits kIch2 = {"Intel ICH2",
                                      "Intel ICH2 GPIO Overvoltage Controller.",
                                      {0, 31, 0, 0x00},
                                      0x8086,
                                      0x2440,
                                      {0, 31, 0, 0x58},
                                      {0, 1, 2, 3},
                                      0.05,
                                      2000,
                                      1.45,
                                      1.65,
                                      2.7,
                                      0x00,
                                      4};
constexpr GpioVoltIo::Traits kIch4 = {"Intel ICH4",
                                      "Intel ICH4 GPIO Overvoltage Controller.",
                                      {0, 31, 0, 0x00},
                                      0x8086,
                                      0x24C0,
                                      {0, 31, 0, 0x58},
                                      {0, 1, 2, 3},
                                      0.05,
                                      2000,
                                      1.45,
                                      1.65,
                                      2.7,
                                      0x00,
                                      4};
// ICH5 boards leave level 1 unwired; their regulators settle more slowly.
constexpr GpioVoltIo::Traits kIch5 = {"Intel ICH5",
                                      "Intel ICH5 GPIO Overvoltage Controller.",
                                      {0, 31, 0, 0x00},
                                      0x8086,
                                      0x24D0,
                                      {0, 31, 0, 0x58},
                                      {0, 2, 2, 3},
                                      0.0,
                                      3000,
                                      1.45,
                                      1.5,
                                      2.6,
                                      0x00,
                                      4};
constexpr GpioVoltIo::Traits kVt8235 = {"VIA VT8235",
                                        "VIA VT8235 GPIO Overvoltage Controller.",
                                        {0, 17, 0, 0x00},
                                        0x1106,
                                        0x3177,
                                        {0, 17, 0, 0x88},
                                        {0, 1, 2, 3},
                                        0.0,
                                        2000,
                                        1.45,
                                        1.65,
                                        2.7,
                                        0x40,
                                        1};
constexpr GpioVoltIo::Traits kVt8237 = {"VIA VT8237",
                                        "VIA VT8237 GPIO Overvoltage Controller.",
                                        {0, 17, 0, 0x00},
                                        0x1106,
                                        0x3227,
                                        {0, 17, 0, 0x88},
                                        {0, 1, 2, 3},
                                        0.0,
                                        2000,
                                        1.45,
                                        1.65,
                                        2.7,
                                        0x40,
                                        1};
// SiS boards leave level 0 unwired; the GPIO base lives in the host bridge.
constexpr GpioVoltIo::Traits kSis962 = {"SiS 962/3",
                                        "SiS 962/3 GPIO Overvoltage Controller.",
                                        {0, 2, 0, 0x00},
                                        0x1039,
                                        0x0008,
                                        {0, 0, 0, 0x68},
                                        {1, 1, 2, 3},
                                        0.0,
                                        2000,
                                        1.4,
                                        1.65,
                                        2.7,
                                        0x60,
                                        1};

// Level registers (offsets into the GPIO block).
constexpr std::uint8_t kIchLevel1High = 0x0E;  // GPIO 16-23
constexpr std::uint8_t kIchLevel2 = 0x38;      // GPIO 32-39
constexpr std::uint8_t kViaMemoryInput = 0x4A;
constexpr std::uint8_t kViaCoreInput = 0x4B;
constexpr std::uint8_t kViaMemoryOutput = 0x4E;
constexpr std::uint8_t kViaCoreOutput = 0x4F;
constexpr std::uint8_t kSisMemoryLow = 0x64;
constexpr std::uint8_t kSisLevel = 0x65;

constexpr LevelPins kIch2Shared = {{kIchLevel1High, 2}, {kIchLevel1High, 3}};
constexpr LevelPins kIch4Core = {{kIchLevel2, 0}, {kIchLevel2, 1}};
constexpr LevelPins kIch4Memory = {{kIchLevel2, 2}, {kIchLevel2, 3}};
constexpr LevelPins kIch5Core = {{kIchLevel1High, 5}, {kIchLevel2, 0}};
constexpr LevelPins kIch5Memory = {{kIchLevel1High, 3}, {kIchLevel1High, 4}};
constexpr LevelPins kViaCore = {{kViaCoreInput, 4}, {kViaCoreInput, 5}};
constexpr LevelPins kViaMemory = {{kViaMemoryInput, 6}, {kViaMemoryInput, 7}};
constexpr LevelPins kSisCore = {{kSisLevel, 1}, {kSisLevel, 2}};
constexpr LevelPins kSisMemory = {{kSisMemoryLow, 7}, {kSisLevel, 6}};

// VIA core output: bit 5 raises, bit 4 comes from what the input register showed.
constexpr std::uint8_t kViaCoreMask = 0x30;
constexpr std::uint8_t kViaCoreRaise = 0x20;
constexpr std::uint8_t kViaMemoryMask = 0xC0;
constexpr std::uint8_t kViaMemoryLow = 0x40;
constexpr std::uint8_t kViaMemoryHigh = 0x80;
// SiS core: levels 0-2 clear the low nibble, level 3 sets both core pins.
constexpr std::uint8_t kSisCoreKeep = 0xF0;
constexpr std::uint8_t kSisCoreBoth = 0x06;

std::uint8_t Mask(GpioPin pin) { return static_cast<std::uint8_t>(1U << pin.bit); }

}  // namespace

PinLevelGpioVoltIo::PinLevelGpioVoltIo(const Traits& traits, LevelPins core, LevelPins memory)
    : GpioVoltIo(traits), core_(core), memory_(memory) {}

std::optional<int> PinLevelGpioVoltIo::ReadPins(const Block& block, LevelPins pins) {
  const auto low = block.Bit(pins.low.offset, pins.low.bit);
  const auto high = block.Bit(pins.high.offset, pins.high.bit);
  if (!low || !high) return std::nullopt;
  return *low + 2 * *high;
}

void PinLevelGpioVoltIo::WritePins(const Block& block, LevelPins pins, int level) {
  const auto pinBits = [](GpioPin pin, int value) {
    return static_cast<std::uint8_t>(value != 0 ? Mask(pin) : 0);
  };
  if (pins.low.offset == pins.high.offset) {
    // Both pins in one register: one read-modify-write.
    block.SetBits(pins.low.offset, static_cast<std::uint8_t>(Mask(pins.low) | Mask(pins.high)),
                  static_cast<std::uint8_t>(pinBits(pins.low, level & 1) | pinBits(pins.high, level >> 1)));
    return;
  }
  block.SetBits(pins.low.offset, Mask(pins.low), pinBits(pins.low, level & 1));
  block.SetBits(pins.high.offset, Mask(pins.high), pinBits(pins.high, level >> 1));
}

std::optional<int> PinLevelGpioVoltIo::ReadCoreLevel(const Block& block) const {
  return ReadPins(block, core_);
}
void PinLevelGpioVoltIo::WriteCoreLevel(const Block& block, int level) const {
  WritePins(block, core_, level);
}
std::optional<int> PinLevelGpioVoltIo::ReadMemoryLevel(const Block& block) const {
  return ReadPins(block, memory_);
}
void PinLevelGpioVoltIo::WriteMemoryLevel(const Block& block, int level) const {
  WritePins(block, memory_, level);
}

ICH2GpioVoltIo::ICH2GpioVoltIo() : PinLevelGpioVoltIo(kIch2, kIch2Shared, kIch2Shared) { Load(); }
ICH4GpioVoltIo::ICH4GpioVoltIo() : PinLevelGpioVoltIo(kIch4, kIch4Core, kIch4Memory) { Load(); }
ICH5GpioVoltIo::ICH5GpioVoltIo() : PinLevelGpioVoltIo(kIch5, kIch5Core, kIch5Memory) { Load(); }

ViaGpioVoltIo::ViaGpioVoltIo(const Traits& traits) : PinLevelGpioVoltIo(traits, kViaCore, kViaMemory) {}
VT8235GpioVoltIo::VT8235GpioVoltIo() : ViaGpioVoltIo(kVt8235) { Load(); }
VT8237GpioVoltIo::VT8237GpioVoltIo() : ViaGpioVoltIo(kVt8237) { Load(); }

void ViaGpioVoltIo::WriteCoreLevel(const Block& block, int level) const {
  const auto pins = block.Read(kViaCoreInput);
  if (!pins) return;
  std::uint8_t value = *pins;
  if (level == 0) {
    value |= kViaCoreRaise;
  } else if (level == 3) {
    value &= static_cast<std::uint8_t>(~kViaCoreMask);
  } else {
    value = static_cast<std::uint8_t>((value & ~kViaCoreMask) | kViaCoreRaise);
  }
  block.Write(kViaCoreOutput, value);
}

void ViaGpioVoltIo::WriteMemoryLevel(const Block& block, int level) const {
  const auto pins = block.Read(kViaMemoryInput);
  if (!pins) return;
  static constexpr std::array<std::uint8_t, GpioVoltIo::kLevels> kBits = {0, kViaMemoryLow, kViaMemoryHigh,
                                                                          kViaMemoryMask};
  const auto value =
      static_cast<std::uint8_t>((*pins & ~kViaMemoryMask) | kBits[static_cast<std::size_t>(level)]);
  block.Write(kViaMemoryOutput, value);
}

SIS962GpioVoltIo::SIS962GpioVoltIo() : PinLevelGpioVoltIo(kSis962, kSisCore, kSisMemory) { Load(); }

void SIS962GpioVoltIo::WriteCoreLevel(const Block& block, int level) const {
  const auto value = block.Read(kSisLevel);
  if (!value) return;
  block.Write(kSisLevel,
              static_cast<std::uint8_t>(level == 3 ? *value | kSisCoreBoth : *value & kSisCoreKeep));
}

}  // namespace rq::devices
