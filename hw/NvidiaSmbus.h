#pragma once
#include "hw/SmbusHost.h"

namespace rq::hw {

// The nVidia MCP SMBus host: a protocol register starts a transaction (and its
// writing of 0 clears the status); the device address goes to the register at +2.
class nVidiaMCPIo final : public SmbusHostIo {
 public:
  using SmbusHostIo::SmbusHostIo;

  void ClearStatus() override;
  bool IsByteDone() override;
  bool IsBusy() override;
  bool IsIdle() override;
  bool IsComplete() override;
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

 private:
  bool Failed();
  bool AcquireHost();
  void ReleaseHost();
  // False when the host reports an error or never finishes.
  bool AwaitCompletion();
};

}  // namespace rq::hw
