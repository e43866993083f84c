#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "sim/Smbus.h"

namespace rq::sim {

// A plain SMBus device: 256 byte registers behind byte and block protocols. Hosts
// are tested and measured against it without any particular chip's behaviour.
// A block read returns `count` registers from the command on, where the count is
// either fixed or taken from a count register (as many clock generators do).
class SmbusRegisterFile : public SmbusDevice {
 public:
  struct BlockCount {
    std::optional<std::uint8_t> countRegister;  // when set, the count is that register's value
    std::uint8_t fixed = 32;
  };

  SmbusRegisterFile(std::uint8_t address7, const std::array<std::uint8_t, 256>& powerOn, BlockCount count);

  std::string Name() const override;
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;

  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override;
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override;
  bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) override;
  bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) override;

  std::uint8_t Register(std::uint8_t index) const { return registers_[index]; }
  std::uint64_t Transfers() const { return transfers_; }

 private:
  std::array<std::uint8_t, 256> powerOn_;
  std::array<std::uint8_t, 256> registers_;
  BlockCount count_;
  std::uint64_t transfers_ = 0;
};

}  // namespace rq::sim
