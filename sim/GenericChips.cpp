// The two chip types that are not any particular part: a PCI function of any
// identity, and an SMBus register file.
#include <cstdio>

#include "sim/Board.h"
#include "sim/SmbusRegisterFile.h"

namespace rq::sim {

// ---------------------------------------------------------------------------
// SMBus register file

SmbusRegisterFile::SmbusRegisterFile(std::uint8_t address7, const std::array<std::uint8_t, 256>& powerOn,
                                     BlockCount count)
    : SmbusDevice(address7), powerOn_(powerOn), registers_(powerOn), count_(count) {}

std::string SmbusRegisterFile::Name() const {
  char text[40];
  std::snprintf(text, sizeof text, "smbus-register-file @0x%02X", Address());
  return text;
}

void SmbusRegisterFile::PowerOnReset() { registers_ = powerOn_; }

nlohmann::json SmbusRegisterFile::Inspect() const {
  return {{"address", Address()}, {"transfers", transfers_}};
}

bool SmbusRegisterFile::ReadByteData(std::uint8_t command, std::uint8_t& value) {
  ++transfers_;
  value = registers_[command];
  return true;
}

bool SmbusRegisterFile::WriteByteData(std::uint8_t command, std::uint8_t value) {
  ++transfers_;
  registers_[command] = value;
  return true;
}

bool SmbusRegisterFile::BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) {
  ++transfers_;
  const std::uint8_t count = count_.countRegister ? registers_[*count_.countRegister] : count_.fixed;
  data.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    data[i] = registers_[(command + i) & 0xFF];
  }
  return true;
}

bool SmbusRegisterFile::BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) {
  ++transfers_;
  for (std::size_t i = 0; i < data.size(); ++i) {
    registers_[(command + i) & 0xFF] = data[i];
  }
  return true;
}

namespace {

constexpr std::uint32_t kMaxConfigOffset = 0xFF;
constexpr std::uint32_t kLastByteRegister = 0xFF;

// Header registers the profile names by role rather than by offset.
constexpr std::uint8_t kVendorIdOffset = 0x00;
constexpr std::uint8_t kDeviceIdOffset = 0x02;
constexpr std::uint8_t kRevisionOffset = 0x08;
constexpr std::uint8_t kClassCodeOffset = 0x09;
constexpr std::uint8_t kHeaderTypeOffset = 0x0E;
constexpr std::uint8_t kSubsystemVendorOffset = 0x2C;
constexpr std::uint8_t kSubsystemIdOffset = 0x2E;

void Store(std::array<std::uint8_t, 256>& config, std::uint32_t offset, std::uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) {
    config[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Raw configuration values go in by width: bytes first, then words, then dwords,
// so a wider entry wins where they overlap.
void StoreTable(const ChipConfig& config, const std::string& key, unsigned width,
                std::array<std::uint8_t, 256>& image) {
  const std::uint64_t maxValue = width == 4 ? 0xFFFFFFFFULL : (1ULL << (8 * width)) - 1;
  for (const auto& [offset, value] : config.RegisterTable(key, kMaxConfigOffset + 1 - width, maxValue)) {
    Store(image, offset, value, width);
  }
}

void BuildPciFunction(const ChipConfig& config, Board& board) {
  std::array<std::uint8_t, 256> image{};
  Store(image, kVendorIdOffset, static_cast<std::uint64_t>(config.Integer("vendor", 0, 0xFFFE)), 2);
  Store(image, kDeviceIdOffset, static_cast<std::uint64_t>(config.Integer("device", 0, 0xFFFF)), 2);
  Store(image, kRevisionOffset, static_cast<std::uint64_t>(config.Integer("revision", 0, 0xFF, 0)), 1);
  Store(image, kClassCodeOffset, static_cast<std::uint64_t>(config.Integer("class", 0, 0xFFFFFF, 0)), 3);
  Store(image, kHeaderTypeOffset, static_cast<std::uint64_t>(config.Integer("header_type", 0, 0xFF, 0)), 1);
  Store(image, kSubsystemVendorOffset,
        static_cast<std::uint64_t>(config.Integer("subsystem_vendor", 0, 0xFFFF, 0)), 2);
  Store(image, kSubsystemIdOffset, static_cast<std::uint64_t>(config.Integer("subsystem", 0, 0xFFFF, 0)), 2);
  StoreTable(config, "bytes", 1, image);
  StoreTable(config, "words", 2, image);
  StoreTable(config, "dwords", 4, image);
  auto& function = board.Own(std::make_unique<PciFunction>(config.Location(), image));
  board.Pci().Add(function);
}

void BuildSmbusRegisterFile(const ChipConfig& config, Board& board) {
  std::array<std::uint8_t, 256> image{};
  image.fill(static_cast<std::uint8_t>(config.Integer("fill", 0, 0xFF, 0)));
  for (const auto& [index, value] : config.RegisterTable("registers", kLastByteRegister, 0xFF)) {
    image[index] = static_cast<std::uint8_t>(value);
  }
  SmbusRegisterFile::BlockCount count;
  if (config.Has("block_count_register") && config.Has("block_count")) {
    config.Fail("give either block_count_register or block_count, not both");
  }
  if (config.Has("block_count_register")) {
    count.countRegister = static_cast<std::uint8_t>(config.Integer("block_count_register", 0, 0xFF));
  } else {
    count.fixed = static_cast<std::uint8_t>(config.Integer("block_count", 0, 0xFF, count.fixed));
  }
  auto& device = board.Own(std::make_unique<SmbusRegisterFile>(config.SmbusAddress(), image, count));
  board.Smbus().Attach(device);
}

RQ_SIM_CHIP("pci-function", BuildPciFunction);
RQ_SIM_CHIP("smbus-register-file", BuildSmbusRegisterFile);

}  // namespace

}  // namespace rq::sim
