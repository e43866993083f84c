#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/ChipConfig.h"

namespace rq::sim {

// What every simulated SMBus host shares: it is a PCI function with its identity
// (and, on most bridges, a read-only base register), it answers a range of I/O
// ports at that base, and it runs its transactions against the board's SMBus.
// Transactions complete the moment they are started, as in QEMU's hosts; what a
// family differs in is its register file and how it reports the outcome.
class SmbusHostChip : public PciFunction, public PortDevice {
 public:
  struct Identity {
    PciLocation location;
    std::uint16_t vendorId = 0;
    std::uint16_t deviceId = 0;
    std::uint8_t baseRegister = 0;  // 0: the base is fixed and not in configuration space
    std::uint16_t base = 0;
    std::uint16_t portCount = 0;
    // Further power-on configuration from the profile (host enables and the like);
    // identity and base register win over them.
    std::uint8_t revision = 0;
    std::uint32_t classCode = 0x0C0500;  // serial bus, SMBus
    std::uint8_t headerType = 0;
    std::map<std::uint32_t, std::uint64_t> bytes;
    std::map<std::uint32_t, std::uint64_t> words;
  };

  // Reads the keys every host takes: `revision`, `class`, `header_type`, `bytes`
  // and `words`.
  static void ReadProfileConfiguration(const ChipConfig& config, Identity& identity);

  SmbusHostChip(std::string type, const Identity& identity, SmbusBus& bus);

  std::string Name() const override { return type_; }
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;
  void WriteConfigByte(std::uint8_t offset, std::uint8_t value) override;

  std::uint16_t Base() const { return identity_.base; }
  std::uint16_t PortCount() const { return identity_.portCount; }
  std::uint8_t In(std::uint16_t port) override {
    return Read(static_cast<std::uint8_t>(port - identity_.base));
  }
  void Out(std::uint16_t port, std::uint8_t value) override {
    Write(static_cast<std::uint8_t>(port - identity_.base), value);
  }

  // Claims the ports, adds the PCI function and hands the chip to the board.
  static void Install(std::unique_ptr<SmbusHostChip> chip, Board& board);

  // One member of a host family: its kind code and PCI device ID.
  struct Model {
    std::int64_t kind;
    std::uint16_t deviceId;
  };
  // The device ID of the member the profile's `kind` names (the last member when
  // the profile names none).
  static std::uint16_t DeviceIdForKind(const ChipConfig& config, std::span<const Model> models);
  // The I/O base the profile's `base` names, kept clear of the ISA range and the top.
  static std::uint16_t ProfileBase(const ChipConfig& config, std::uint16_t portCount, std::uint16_t fallback);

  // Builds a host of one family from its profile entry: the family's identity, then
  // the configuration keys every host takes.
  template <typename Chip>
  static void Build(const ChipConfig& config, Board& board, const std::string& type, Identity identity) {
    ReadProfileConfiguration(config, identity);
    Install(std::make_unique<Chip>(type, identity, board.Smbus()), board);
  }

 protected:
  enum class Outcome { kDone, kNoDevice, kRefused };
  static constexpr std::size_t kMaxBlock = 32;

  virtual std::uint8_t Read(std::uint8_t offset) = 0;
  virtual void Write(std::uint8_t offset, std::uint8_t value) = 0;
  virtual void ResetRegisters() = 0;
  virtual nlohmann::json InspectRegisters() const = 0;

  bool DevicePresent(std::uint8_t address) const {
    return bus_.Find(static_cast<std::uint8_t>(address >> 1)) != nullptr;
  }
  // `address` is the 8-bit form the host registers hold; bit 0 (read) is ignored.
  Outcome ReadByteData(std::uint8_t address, std::uint8_t command, std::uint8_t& value);
  Outcome WriteByteData(std::uint8_t address, std::uint8_t command, std::uint8_t value);
  // A block longer than the host's 32-byte buffer is cut to 32 bytes.
  Outcome BlockRead(std::uint8_t address, std::uint8_t command, std::vector<std::uint8_t>& data);
  Outcome BlockWrite(std::uint8_t address, std::uint8_t command, std::span<const std::uint8_t> data);

 private:
  static std::array<std::uint8_t, 256> PowerOnConfig(const Identity& identity);
  bool IsBaseRegisterByte(std::uint8_t offset) const;

  std::string type_;
  Identity identity_;
  SmbusBus& bus_;
};

}  // namespace rq::sim
