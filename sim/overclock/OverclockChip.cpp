// The jumper-free overclock controllers ATXP3 and ATXP1 on the virtual board.
#include "sim/overclock/OverclockChip.h"

#include <cmath>
#include <cstddef>

#include "sim/Analog.h"
#include "sim/Board.h"
#include "sim/ChipConfig.h"

namespace rq::sim {

namespace {

// The data sheet's VID table: code c asks for 1.85 V - 25 mV * c.
constexpr std::array<double, 32> kVidVolts = {1.850, 1.825, 1.800, 1.775, 1.750, 1.725, 1.700, 1.675,
                                              1.650, 1.625, 1.600, 1.575, 1.550, 1.525, 1.500, 1.475,
                                              1.450, 1.425, 1.400, 1.375, 1.350, 1.325, 1.300, 1.275,
                                              1.250, 1.225, 1.200, 1.175, 1.150, 1.125, 1.100, 1.075};
// What the memory regulator makes for each state of its two select pins.
constexpr std::array<double, 4> kMemoryVolts = {2.8, 2.7, 2.6, 2.5};

constexpr std::uint8_t kVidCodeMask = 0x1F;
constexpr std::uint8_t kOverrideEnable = 0x20;
constexpr std::uint8_t kOverrideBits = 0x3F;
constexpr std::uint8_t kMemoryPins = 0x03;
constexpr std::uint8_t kPinsPowerOn = 0xFF;

}  // namespace

const OverclockChip::Variant OverclockChip::kAtxp3{"atxp3", 1};
const OverclockChip::Variant OverclockChip::kAtxp1{"atxp1", 0};

OverclockChip::OverclockChip(const Variant& variant, std::uint8_t address7, std::uint8_t overrideRegister,
                             Analog& analog)
    : SmbusDevice(address7), variant_(variant), overrideRegister_(overrideRegister), analog_(analog) {
  PowerOnReset();
}

// The regulators return to the VID and the board's memory setting by their own
// reset; the chip only forgets what it was told.
void OverclockChip::PowerOnReset() {
  registers_.fill(0);
  registers_[kDirectionRegister] = kPinsPowerOn;
  registers_[kDataRegister] = kPinsPowerOn;
}

std::uint8_t OverclockChip::CpuVidCode() const {
  const double vid = analog_.Settings().nominal[static_cast<std::size_t>(Supply::VCore)];
  std::size_t best = 0;
  for (std::size_t code = 1; code < kVidVolts.size(); ++code) {
    if (std::fabs(kVidVolts[code] - vid) < std::fabs(kVidVolts[best] - vid)) best = code;
  }
  return static_cast<std::uint8_t>(best);
}

std::uint8_t OverclockChip::Register(std::uint8_t reg) const {
  if (reg == kVidRegister) return CpuVidCode();
  if (reg == kDataRegister) {
    // Input pins float up to 1; output pins read back their latch.
    return registers_[kDataRegister] | registers_[kDirectionRegister];
  }
  return registers_[reg];
}

bool OverclockChip::OverrideEnabled() const { return (registers_[overrideRegister_] & kOverrideEnable) != 0; }

bool OverclockChip::MemoryPinsDriven() const {
  return ((registers_[kDirectionRegister] >> variant_.memoryPinShift) & kMemoryPins) == 0;
}

std::uint8_t OverclockChip::MemoryCode() const {
  return (registers_[kDataRegister] >> variant_.memoryPinShift) & kMemoryPins;
}

void OverclockChip::DriveCore() {
  if (OverrideEnabled()) {
    analog_.OverrideCore(kVidVolts[registers_[overrideRegister_] & kVidCodeMask]);
  } else {
    analog_.ClearCoreOverride();
  }
}

void OverclockChip::DriveMemory() {
  if (MemoryPinsDriven()) {
    analog_.OverrideMemory(kMemoryVolts[MemoryCode()]);
  } else {
    analog_.OverrideMemory(analog_.Settings().nominal[static_cast<std::size_t>(Supply::VMem)]);
  }
}

bool OverclockChip::ReadByteData(std::uint8_t command, std::uint8_t& value) {
  if (command >= kRegisterCount) return false;
  value = Register(command);
  return true;
}

bool OverclockChip::WriteByteData(std::uint8_t command, std::uint8_t value) {
  if (command >= kRegisterCount) return false;
  if (command == kVidRegister) return true;  // read-only: the CPU's pins
  if (command == overrideRegister_) {
    registers_[command] = value & kOverrideBits;
    DriveCore();
    return true;
  }
  registers_[command] = value;
  if (command == kDirectionRegister || command == kDataRegister) DriveMemory();
  return true;
}

nlohmann::json OverclockChip::Inspect() const {
  nlohmann::json json = {
      {"address", Address()},
      {"overrideRegister", overrideRegister_},
      {"registers",
       {{"override", Register(overrideRegister_)},
        {"vid", CpuVidCode()},
        {"direction", Register(kDirectionRegister)},
        {"data", Register(kDataRegister)}}},
      {"cpuVidVolts", kVidVolts[CpuVidCode()]},
      {"coreOverrideVolts", nullptr},
      {"memoryPinsDriven", MemoryPinsDriven()},
      {"memoryVolts", nullptr},
  };
  if (OverrideEnabled()) json["coreOverrideVolts"] = kVidVolts[registers_[overrideRegister_] & kVidCodeMask];
  if (MemoryPinsDriven()) json["memoryVolts"] = kMemoryVolts[MemoryCode()];
  return json;
}

namespace {

constexpr std::uint8_t kPlainOverrideRegister = 0;
constexpr std::uint8_t kAlternateOverrideRegister = 10;

// Profile keys: `address` (7-bit, default 0x4E); for the ATXP1 also
// `override_register`, 0 (default) or 10 for the variant that takes the override
// there.
void BuildOverclockChip(const ChipConfig& config, Board& board, const OverclockChip::Variant& variant,
                        bool alternateOverride) {
  const std::uint8_t address = config.Has("address") ? config.SmbusAddress() : OverclockChip::kDefaultAddress;
  std::uint8_t overrideRegister = kPlainOverrideRegister;
  if (alternateOverride) {
    overrideRegister = static_cast<std::uint8_t>(config.Integer(
        "override_register", kPlainOverrideRegister, kAlternateOverrideRegister, kPlainOverrideRegister));
    if (overrideRegister != kPlainOverrideRegister && overrideRegister != kAlternateOverrideRegister) {
      config.Fail("override_register", "must be 0 or 10");
    }
  }
  auto& chip =
      board.Own(std::make_unique<OverclockChip>(variant, address, overrideRegister, board.Analogue()));
  board.Smbus().Attach(chip);
}

}  // namespace

RQ_SIM_CHIP("atxp3", [](const ChipConfig& config, Board& board) {
  BuildOverclockChip(config, board, OverclockChip::kAtxp3, false);
});
RQ_SIM_CHIP("atxp1", [](const ChipConfig& config, Board& board) {
  BuildOverclockChip(config, board, OverclockChip::kAtxp1, true);
});

}  // namespace rq::sim
