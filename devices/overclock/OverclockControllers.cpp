#include <array>

#include "devices/SmbusController.h"
#include "devices/SystemFacts.h"
#include "devices/northbridge/PciMchIo.h"
#include "devices/overclock/I2cOverclkIo.h"

namespace rq::devices {

namespace {

constexpr int kVidRegister = 1;
constexpr int kOverrideRegister = 0;
constexpr int kBoardNOverrideRegister = 10;
constexpr int kPinDirectionRegister = 5;
constexpr int kPinDataRegister = 6;
constexpr std::uint8_t kAllPinsOutputs = 0x00;
constexpr std::uint8_t kVidCodeMask = 0x1F;
constexpr std::uint8_t kOverrideEnable = 0x20;
constexpr std::uint8_t kMemoryCodeMask = 0x03;
// A register that reads all ones is an empty bus, not a device.
constexpr std::uint8_t kAbsent = 0xFF;

// Written out as decimals: callers pass these very values and the set operations
// look them up by equality, which repeated subtraction would miss.
constexpr std::array<double, 32> kCoreVolts = {
    1.85, 1.825, 1.8, 1.775, 1.75, 1.725, 1.7, 1.675, 1.65, 1.625, 1.6, 1.575, 1.55, 1.525, 1.5, 1.475,
    1.45, 1.425, 1.4, 1.375, 1.35, 1.325, 1.3, 1.275, 1.25, 1.225, 1.2, 1.175, 1.15, 1.125, 1.1, 1.075};

constexpr std::array<double, 4> kMemoryVolts = {2.8, 2.7, 2.6, 2.5};

const char* const kDescription = "Attansic Jumper Free Over Clock Controller";

constexpr OverclockModel kAtxp3{"ATXP3", false, false, 1};
constexpr OverclockModel kAtxp1{"ATXP1", true, true, 0};

// The code of the highest table voltage not above `volts`. Both tables fall with
// the code, so that is the first entry at or below it; none for a voltage below
// the table (or not a number): never more than was asked for.
template <std::size_t N>
std::optional<std::uint8_t> CodeAtMost(const std::array<double, N>& table, double volts) {
  for (std::size_t code = 0; code < N; ++code) {
    if (table[code] <= volts) return static_cast<std::uint8_t>(code);
  }
  return std::nullopt;
}

struct RaiseBand {
  double from;  // inclusive
  double to;    // exclusive
  double raised;
};
constexpr std::array<RaiseBand, 4> kRaiseBands = {{
    {1.45, 1.55, 1.65},
    {1.55, 1.65, 1.675},
    {1.65, 1.7, 1.7},
    {1.7, 1.8, 1.85},
}};

}  // namespace

double RaisedCoreVoltage(double defaultVolts) {
  for (const RaiseBand& band : kRaiseBands) {
    if (defaultVolts >= band.from && defaultVolts < band.to) return band.raised;
  }
  return defaultVolts;
}

I2cOverclkIo::I2cOverclkIo(const OverclockModel& model)
    : vidRegister_(kVidRegister),
      vidOverrideRegister_(model.overrideAt10OnNBoards && CurrentSystem().boardModel.starts_with("N")
                               ? kBoardNOverrideRegister
                               : kOverrideRegister),
      memoryRegister_(kPinDataRegister),
      modelName_(model.modelName),
      description_(kDescription),
      smbus_(OpenSmbusController(kDeviceAddress, {hw::kHostIntelICH2, hw::kHostIntelICH4, hw::kHostIntelICH5,
                                                  hw::kHostVIA8235, hw::kHostVIA8237, hw::kHostNVidiaMCP})
                 .controller),
      k7Platform_(model.k7Platform),
      memoryPinShift_(model.memoryPinShift) {}

std::optional<std::uint8_t> I2cOverclkIo::Read(int reg) {
  std::uint32_t value = 0;
  if (smbus_ == nullptr || !smbus_->ReadByte(&value, static_cast<std::uint8_t>(reg))) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

void I2cOverclkIo::Write(int reg, std::uint8_t value) {
  if (smbus_ != nullptr) smbus_->WriteByte(value, static_cast<std::uint8_t>(reg));
}

double I2cOverclkIo::CoreVoltageOf(std::uint8_t code) const { return kCoreVolts[code & kVidCodeMask]; }

bool I2cOverclkIo::Probe() {
  if (smbus_ == nullptr) return false;
  {
    SmbusLock lock;
    const std::optional<std::uint8_t> vid = Read(vidRegister_);
    if (!vid.has_value() || *vid == kAbsent) return false;
  }
  const PciMchIo* northBridge = CurrentSystem().northBridge;
  if (northBridge == nullptr || northBridge->K7Platform() != k7Platform_) return false;
  defaultCoreVoltage_ = ReadDefaultCoreVoltage();
  return true;
}

// A failed read gives 0.0: no voltage rather than whatever a stale byte decodes to.
double I2cOverclkIo::ReadDefaultCoreVoltage() {
  if (smbus_ == nullptr) return 0.0;
  SmbusLock lock;
  const std::optional<std::uint8_t> vid = Read(vidRegister_);
  return vid.has_value() ? CoreVoltageOf(*vid) : 0.0;
}

double I2cOverclkIo::ReadCoreVoltage() {
  SmbusLock lock;
  const std::optional<std::uint8_t> overrideCode = Read(vidOverrideRegister_);
  if (!overrideCode.has_value()) return 0.0;
  // Without its enable bit the code does not reach the regulator: the board runs
  // at its own voltage.
  if ((*overrideCode & kOverrideEnable) != 0) return CoreVoltageOf(*overrideCode);
  const std::optional<std::uint8_t> vid = Read(vidRegister_);
  return vid.has_value() ? CoreVoltageOf(*vid) : 0.0;
}

double I2cOverclkIo::ReadMemoryVoltage() {
  SmbusLock lock;
  const std::optional<std::uint8_t> pins = Read(memoryRegister_);
  if (!pins.has_value()) return 0.0;
  return kMemoryVolts[(*pins >> memoryPinShift_) & kMemoryCodeMask];
}

void I2cOverclkIo::SetCoreVoltage(double volts) {
  const std::optional<std::uint8_t> code = CodeAtMost(kCoreVolts, volts);
  if (!code.has_value()) return;
  SmbusLock lock;
  Write(vidOverrideRegister_, static_cast<std::uint8_t>(*code | kOverrideEnable));
}

void I2cOverclkIo::SetMemoryVoltage(double volts) {
  const std::optional<std::uint8_t> code = CodeAtMost(kMemoryVolts, volts);
  if (!code.has_value()) return;
  SmbusLock lock;
  Write(kPinDirectionRegister, kAllPinsOutputs);
  const std::optional<std::uint8_t> pins = Read(memoryRegister_);
  // Writing back a byte that was never read would drive the other pins at random.
  if (!pins.has_value()) return;
  const auto mask = static_cast<std::uint8_t>(kMemoryCodeMask << memoryPinShift_);
  const auto value = static_cast<std::uint8_t>((*pins & ~mask) | (*code << memoryPinShift_));
  Write(memoryRegister_, value);
}

void I2cOverclkIo::RaiseCoreVoltage() { SetCoreVoltage(RaisedCoreVoltage(defaultCoreVoltage_)); }
void I2cOverclkIo::RaiseMemoryVoltage() { SetMemoryVoltage(kRaisedMemoryVoltage); }
void I2cOverclkIo::RestoreCoreVoltage() { SetCoreVoltage(defaultCoreVoltage_); }
void I2cOverclkIo::RestoreMemoryVoltage() { SetMemoryVoltage(kDefaultMemoryVoltage); }

ATX3PIo::ATX3PIo() : I2cOverclkIo(kAtxp3) {}
ATX1PIo::ATX1PIo() : I2cOverclkIo(kAtxp1) {}

}  // namespace rq::devices
