#include "devices/gpiovolt/GpioVoltIo.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "devices/Rounding.h"
#include "devices/SystemFacts.h"
#include "devices/monitor/ISAHwMonitorIo.h"

namespace rq::devices {

namespace {

constexpr char kKeyCoreEnabled[] = "GPIOOverVcore";
constexpr char kKeyMemoryEnabled[] = "GPIOOverVdimm";
constexpr char kKeyCoreList[] = "GPIOOverVcoreList";
constexpr char kKeyMemoryList[] = "GPIOOverVdimmList";
constexpr std::size_t kMemoryListStart = GpioVoltIo::kLevels;
constexpr int kHighestLevel = GpioVoltIo::kLevels - 1;
// Bit 0 of a configuration base register marks I/O space, not part of the address.
constexpr std::uint16_t kIoSpaceBit = 0x0001;
// A base of 0 (unprogrammed, or the read failed) or all ones (no such function)
// would aim the level writes at the legacy DMA and interrupt controllers.
constexpr std::uint16_t kNoBase = 0x0000;
constexpr std::uint16_t kAbsentBase = 0xFFFE;
constexpr std::uint8_t kVendorOffset = 0x00;
constexpr std::uint8_t kDeviceOffset = 0x02;
constexpr double kPercent = 100.0;
constexpr int kPercentDecimals = 6;

// The raise table's upper rows, common to every south bridge.
struct RaiseRow {
  double from;
  double below;
  double target;
};
constexpr std::array<RaiseRow, 3> kRaiseRows = {{{1.55, 1.65, 1.675}, {1.65, 1.7, 1.7}, {1.7, 1.8, 1.85}}};
constexpr double kFirstRowBelow = 1.55;

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::optional<double> ParseNumber(std::string_view piece) {
  piece = Trim(piece);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
  if (ec != std::errc() || end != piece.data() + piece.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::array<double, GpioVoltIo::kLevels>> ParseLevelList(const std::string& text) {
  // Levels a short list does not name stay 0: a level wired to no raise.
  std::array<double, GpioVoltIo::kLevels> values{};
  if (Trim(text).empty()) return std::nullopt;
  std::string_view rest = text;
  for (int i = 0; i < GpioVoltIo::kLevels; ++i) {
    if (rest.data() == nullptr) break;
    const auto comma = rest.find(',');
    const auto number = ParseNumber(rest.substr(0, comma));
    if (!number) return std::nullopt;
    values[static_cast<std::size_t>(i)] = *number;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return values;
}

GpioVoltIo::GpioVoltIo(const Traits& traits)
    : traits_(traits), model_(traits.model), description_(traits.description) {}

void GpioVoltIo::Load() {
  coreEnabled_ = BoardSettingInt(kKeyCoreEnabled, 0) != 0;
  memoryEnabled_ = BoardSettingInt(kKeyMemoryEnabled, 0) != 0;
  if (coreEnabled_) {
    const auto steps = ParseLevelList(BoardSettingString(kKeyCoreList));
    coreEnabled_ = steps.has_value();
    if (steps) std::copy(steps->begin(), steps->end(), lists_.begin());
  }
  if (coreEnabled_) {
    defaultCoreVoltage_ = ReadDefaultCoreVoltage();
    // Without a measured default there is nothing to raise from or restore to.
    coreEnabled_ = defaultCoreVoltage_ > 0.0;
  }
  if (memoryEnabled_) {
    const auto volts = ParseLevelList(BoardSettingString(kKeyMemoryList));
    memoryEnabled_ = volts.has_value();
    if (volts) std::copy(volts->begin(), volts->end(), lists_.begin() + kMemoryListStart);
  }
}

std::optional<std::uint8_t> GpioVoltIo::Block::Read(std::uint8_t offset) const {
  std::uint32_t value = 0;
  if (!io_.ReadPortByte(static_cast<std::uint16_t>(base_ + offset), value)) return std::nullopt;
  return static_cast<std::uint8_t>(value & 0xFF);
}

void GpioVoltIo::Block::Write(std::uint8_t offset, std::uint8_t value) const {
  io_.WritePortByte(static_cast<std::uint16_t>(base_ + offset), value);
}

std::optional<int> GpioVoltIo::Block::Bit(std::uint8_t offset, int bit) const {
  const auto value = Read(offset);
  if (!value) return std::nullopt;
  return (*value >> bit) & 1;
}

void GpioVoltIo::Block::SetBits(std::uint8_t offset, std::uint8_t mask, std::uint8_t bits) const {
  const auto value = Read(offset);
  if (!value) return;
  Write(offset, static_cast<std::uint8_t>((*value & ~mask) | (bits & mask)));
}

std::optional<GpioVoltIo::Block> GpioVoltIo::CurrentBlock() const {
  const PciWord& where = traits_.gpioBase;
  const auto base = static_cast<std::uint16_t>(
      ReadPciConfigWord(where.bus, where.device, where.function, where.offset) & ~kIoSpaceBit);
  if (base == kNoBase || base == kAbsentBase) return std::nullopt;
  return Block(*this, base);
}

std::optional<GpioVoltIo::RegisterWindow> GpioVoltIo::ReadRegisterWindow() const {
  constexpr unsigned kRowBytes = 16;
  const auto block = CurrentBlock();
  if (!block) return std::nullopt;
  RegisterWindow window{block->Base(), traits_.dumpFirst, {}};
  for (unsigned i = 0; i < traits_.dumpRows * kRowBytes; ++i)
    window.bytes.push_back(block->Read(static_cast<std::uint8_t>(traits_.dumpFirst + i)));
  return window;
}

std::optional<int> GpioVoltIo::CoreLevel() const {
  const auto block = CurrentBlock();
  if (!block) return std::nullopt;
  return ReadCoreLevel(*block);
}

std::optional<int> GpioVoltIo::MemoryLevel() const {
  const auto block = CurrentBlock();
  if (!block) return std::nullopt;
  return ReadMemoryLevel(*block);
}

std::optional<double> GpioVoltIo::MeasureCore() const {
  ISAHwMonitorIo* monitor = CurrentSystem().hardwareMonitor;
  double volts = 0.0;
  if (monitor == nullptr || !monitor->ReadVCoreA(volts)) return std::nullopt;
  return volts;
}

bool GpioVoltIo::Detect() {
  const PciWord& id = traits_.identity;
  return ReadPciConfigWord(id.bus, id.device, id.function, kVendorOffset) == traits_.vendorId &&
         ReadPciConfigWord(id.bus, id.device, id.function, kDeviceOffset) == traits_.deviceId;
}

void GpioVoltIo::SetCoreVoltage(double volts) {
  if (!coreEnabled_ || volts < defaultCoreVoltage_) return;
  // Rounded so that binary noise cannot decide a step: 1.65 V over 1.5 V is the
  // list's 10 %, not 9.999...
  const double percent =
      RoundTo((volts - defaultCoreVoltage_) * kPercent / defaultCoreVoltage_, kPercentDecimals);
  int level = kHighestLevel;
  for (int i = 0; i < kLevels; ++i) {
    if (percent >= lists_[static_cast<std::size_t>(i)]) {
      level = i;
      break;
    }
  }
  level = traits_.coreLevelMap[static_cast<std::size_t>(level)];
  if (const auto block = CurrentBlock()) WriteCoreLevel(*block, level);
}

void GpioVoltIo::SetMemoryVoltage(double volts) {
  if (!memoryEnabled_) return;
  int level = kHighestLevel;
  for (int i = 0; i < kLevels; ++i) {
    if (lists_[kMemoryListStart + static_cast<std::size_t>(i)] == volts) {
      level = i;
      break;
    }
  }
  if (const auto block = CurrentBlock()) WriteMemoryLevel(*block, level);
}

double GpioVoltIo::ReadDefaultCoreVoltage() {
  if (!coreEnabled_) return 0.0;
  const auto measured = MeasureCore();
  const auto level = CoreLevel();
  if (!measured || !level) return 0.0;
  const double volts = *measured * kPercent / (lists_[static_cast<std::size_t>(*level)] + kPercent) +
                       traits_.defaultCoreOffset;
  return RoundTo(volts, 2);
}

double GpioVoltIo::ReadCoreVoltage() {
  if (!coreEnabled_) return 0.0;
  // The regulator needs a moment to reach a new level before it is measured.
  SleepMs(traits_.coreSettleMs);
  return MeasureCore().value_or(0.0);
}

double GpioVoltIo::ReadMemoryVoltage() {
  if (!memoryEnabled_) return 0.0;
  const auto level = MemoryLevel();
  if (!level) return 0.0;
  return lists_[kMemoryListStart + static_cast<std::size_t>(*level)];
}

void GpioVoltIo::RaiseCoreVoltage() {
  if (!coreEnabled_) return;
  const double d = defaultCoreVoltage_;
  double target = d;
  if (d >= traits_.lowestRaisedDefault && d < kFirstRowBelow) target = traits_.firstRaiseTarget;
  for (const RaiseRow& row : kRaiseRows) {
    if (d >= row.from && d < row.below) target = row.target;
  }
  SetCoreVoltage(target);
}

void GpioVoltIo::RaiseMemoryVoltage() {
  if (memoryEnabled_) SetMemoryVoltage(traits_.raisedMemoryVolts);
}

void GpioVoltIo::RestoreCoreVoltage() {
  if (coreEnabled_) SetCoreVoltage(defaultCoreVoltage_);
}

void GpioVoltIo::RestoreMemoryVoltage() {
  if (memoryEnabled_) SetMemoryVoltage(kRestoredMemoryVolts);
}

}  // namespace rq::devices
