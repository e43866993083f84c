#include "sim/smbus/SmbusHostChip.h"

#include <stdexcept>

namespace rq::sim {
namespace {

constexpr std::uint8_t kConfigVendorId = 0x00;
constexpr std::uint8_t kConfigDeviceId = 0x02;
constexpr std::uint8_t kConfigRevision = 0x08;
constexpr std::uint8_t kConfigClassCode = 0x09;  // programming interface, subclass, class
constexpr std::uint8_t kConfigHeaderType = 0x0E;
constexpr std::uint8_t kBaseIoSpace = 0x01;
constexpr std::uint32_t kLastConfigByte = 0xFF;
constexpr std::uint32_t kLastConfigWord = 0xFE;

void PutWord(std::array<std::uint8_t, 256>& config, std::uint8_t offset, std::uint16_t value) {
  config[offset] = static_cast<std::uint8_t>(value);
  config[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

SmbusHostChip::SmbusHostChip(std::string type, const Identity& identity, SmbusBus& bus)
    : PciFunction(identity.location, PowerOnConfig(identity)),
      type_(std::move(type)),
      identity_(identity),
      bus_(bus) {}

std::array<std::uint8_t, 256> SmbusHostChip::PowerOnConfig(const Identity& identity) {
  std::array<std::uint8_t, 256> config{};
  for (const auto& [offset, value] : identity.bytes) config[offset] = static_cast<std::uint8_t>(value);
  for (const auto& [offset, value] : identity.words) {
    PutWord(config, static_cast<std::uint8_t>(offset), static_cast<std::uint16_t>(value));
  }
  config[kConfigRevision] = identity.revision;
  PutWord(config, kConfigVendorId, identity.vendorId);
  PutWord(config, kConfigDeviceId, identity.deviceId);
  for (int i = 0; i < 3; ++i)
    config[kConfigClassCode + i] = static_cast<std::uint8_t>(identity.classCode >> (8 * i));
  config[kConfigHeaderType] = identity.headerType;
  if (identity.baseRegister != 0) {
    PutWord(config, identity.baseRegister, static_cast<std::uint16_t>(identity.base | kBaseIoSpace));
  }
  return config;
}

void SmbusHostChip::ReadProfileConfiguration(const ChipConfig& config, Identity& identity) {
  identity.revision = static_cast<std::uint8_t>(config.Integer("revision", 0, 0xFF, 0));
  identity.classCode = static_cast<std::uint32_t>(config.Integer("class", 0, 0xFFFFFF, identity.classCode));
  identity.headerType =
      static_cast<std::uint8_t>(config.Integer("header_type", 0, 0xFF, identity.headerType));
  identity.bytes = config.RegisterTable("bytes", kLastConfigByte, 0xFF);
  identity.words = config.RegisterTable("words", kLastConfigWord, 0xFFFF);
}

std::uint16_t SmbusHostChip::DeviceIdForKind(const ChipConfig& config, std::span<const Model> models) {
  const std::int64_t kind =
      config.Integer("kind", models.front().kind, models.back().kind, models.back().kind);
  for (const Model& model : models) {
    if (model.kind == kind) return model.deviceId;
  }
  return 0;  // a kind inside the range that no member has: the host then matches no probe
}

std::uint16_t SmbusHostChip::ProfileBase(const ChipConfig& config, std::uint16_t portCount,
                                         std::uint16_t fallback) {
  return static_cast<std::uint16_t>(config.Integer("base", 0x0100, 0x10000 - portCount, fallback));
}

bool SmbusHostChip::IsBaseRegisterByte(std::uint8_t offset) const {
  return identity_.baseRegister != 0 &&
         (offset == identity_.baseRegister || offset == identity_.baseRegister + 1);
}

// The ports are claimed once at the profile's base; moving them is not modelled,
// so the base register keeps its value.
void SmbusHostChip::WriteConfigByte(std::uint8_t offset, std::uint8_t value) {
  if (IsBaseRegisterByte(offset)) return;
  PciFunction::WriteConfigByte(offset, value);
}

void SmbusHostChip::PowerOnReset() {
  PciFunction::PowerOnReset();
  ResetRegisters();
}

nlohmann::json SmbusHostChip::Inspect() const {
  nlohmann::json state = PciFunction::Inspect();
  state["type"] = type_;
  state["base"] = identity_.base;
  state["registers"] = InspectRegisters();
  return state;
}

void SmbusHostChip::Install(std::unique_ptr<SmbusHostChip> chip, Board& board) {
  const std::uint16_t first = chip->Base();
  const std::uint16_t last = static_cast<std::uint16_t>(first + chip->PortCount() - 1);
  board.Ports().Claim(first, last, *chip);
  try {
    board.Pci().Add(*chip);
  } catch (...) {
    board.Ports().Release(*chip);
    throw;
  }
  chip->ResetRegisters();
  board.Own(std::move(chip));
}

SmbusHostChip::Outcome SmbusHostChip::ReadByteData(std::uint8_t address, std::uint8_t command,
                                                   std::uint8_t& value) {
  SmbusDevice* device = bus_.Find(static_cast<std::uint8_t>(address >> 1));
  if (device == nullptr) return Outcome::kNoDevice;
  return device->ReadByteData(command, value) ? Outcome::kDone : Outcome::kRefused;
}

SmbusHostChip::Outcome SmbusHostChip::WriteByteData(std::uint8_t address, std::uint8_t command,
                                                    std::uint8_t value) {
  SmbusDevice* device = bus_.Find(static_cast<std::uint8_t>(address >> 1));
  if (device == nullptr) return Outcome::kNoDevice;
  return device->WriteByteData(command, value) ? Outcome::kDone : Outcome::kRefused;
}

SmbusHostChip::Outcome SmbusHostChip::BlockRead(std::uint8_t address, std::uint8_t command,
                                                std::vector<std::uint8_t>& data) {
  SmbusDevice* device = bus_.Find(static_cast<std::uint8_t>(address >> 1));
  if (device == nullptr) return Outcome::kNoDevice;
  data.clear();
  if (!device->BlockRead(command, data)) return Outcome::kRefused;
  if (data.size() > kMaxBlock) data.resize(kMaxBlock);
  return Outcome::kDone;
}

SmbusHostChip::Outcome SmbusHostChip::BlockWrite(std::uint8_t address, std::uint8_t command,
                                                 std::span<const std::uint8_t> data) {
  SmbusDevice* device = bus_.Find(static_cast<std::uint8_t>(address >> 1));
  if (device == nullptr) return Outcome::kNoDevice;
  return device->BlockWrite(command, data) ? Outcome::kDone : Outcome::kRefused;
}

}  // namespace rq::sim
