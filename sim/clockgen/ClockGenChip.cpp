#include "sim/clockgen/ClockGenChip.h"

#include <algorithm>

namespace rq::sim {

namespace {
constexpr std::uint8_t kByteCommand = 0x80;
constexpr std::size_t kIcsByteCountRegister = 8;
}  // namespace

ClockGenChip::ClockGenChip(std::string type, Access access, ClockGenOutputs& outputs)
    : SmbusDevice(kAddress), type_(std::move(type)), access_(access), outputs_(outputs) {}

void ClockGenChip::SetPowerOn(const Registers& image, std::uint32_t readOnlyMask) {
  powerOn_ = image;
  readOnly_ = readOnlyMask;
  registers_ = powerOn_;
  busClock_ = PllOutput(registers_);
  watchdog_ = WatchdogFrom(registers_);
}

void ClockGenChip::PowerOnReset() {
  registers_ = powerOn_;
  busClock_ = PllOutput(registers_);
  watchdog_ = WatchdogFrom(registers_);
  outputs_.BusClockChanged(busClock_);
}

void ClockGenChip::Store(std::size_t reg, std::uint8_t value) {
  if (Writable(reg)) registers_[reg] = value;
}

void ClockGenChip::Settle() {
  const double clock = PllOutput(registers_);
  if (clock != busClock_) {
    busClock_ = clock;
    outputs_.BusClockChanged(clock);
  }
  const WatchdogSetting dog = WatchdogFrom(registers_);
  if (dog.timeout != watchdog_.timeout) outputs_.WatchdogTimeoutChanged(dog.timeout);
  if (dog.enabled != watchdog_.enabled) outputs_.WatchdogEnableChanged(dog.enabled);
  watchdog_ = dog;
}

bool ClockGenChip::ReadByteData(std::uint8_t command, std::uint8_t& value) {
  if (access_ != Access::kCypress || !(command & kByteCommand)) return false;
  const std::size_t reg = command & 0x7F;
  if (reg >= kRegisterCount) return false;
  value = registers_[reg];
  return true;
}

bool ClockGenChip::WriteByteData(std::uint8_t command, std::uint8_t value) {
  if (access_ != Access::kCypress || !(command & kByteCommand)) return false;
  const std::size_t reg = command & 0x7F;
  if (reg >= kRegisterCount) return false;
  Store(reg, value);
  Settle();
  return true;
}

bool ClockGenChip::BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) {
  std::size_t length = 0;
  if (access_ == Access::kIcsBlock) {
    if (command >= kRegisterCount) return false;
    length = std::min<std::size_t>(registers_[kIcsByteCountRegister], kRegisterCount - command);
  } else {
    if ((command & kByteCommand) || command >= BlockLength()) return false;
    length = BlockLength() - command;
  }
  data.assign(registers_.begin() + command,
              registers_.begin() + command + static_cast<std::ptrdiff_t>(length));
  return true;
}

bool ClockGenChip::BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) {
  if (access_ == Access::kCypress && (command & kByteCommand)) return false;
  if (command >= kRegisterCount) return false;
  for (std::size_t k = 0; k < data.size() && command + k < kRegisterCount; ++k) Store(command + k, data[k]);
  Settle();
  return true;
}

nlohmann::json ClockGenChip::Inspect() const {
  return {{"type", type_},
          {"fsbMhz", busClock_},
          {"registers", std::vector<int>(registers_.begin(), registers_.end())},
          {"watchdog", {{"timeoutMs", watchdog_.timeout.count()}, {"enabled", watchdog_.enabled}}}};
}

}  // namespace rq::sim
