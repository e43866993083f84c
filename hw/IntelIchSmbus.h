#pragma once
#include "hw/SmbusHost.h"

namespace rq::hw {

// The Intel ICH SMBus host: status, control, command, address, two data registers
// and a block-data port fed byte by byte with a byte-done handshake.
class IntelIchSmbus : public SmbusHostIo {
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
  // Waits for idle, clearing the status (and waiting `extraMs` more) each round;
  // a host that stays busy is aborted, and false means it could not be freed.
  bool AcquireHost(std::uint32_t extraMs);
  void ReleaseHost(std::uint32_t extraMs);
  void SetLastByte();
  void Abort();
};

class IntelICH2Io final : public IntelIchSmbus {
 public:
  using IntelIchSmbus::IntelIchSmbus;
};
class IntelICH4Io final : public IntelIchSmbus {
 public:
  using IntelIchSmbus::IntelIchSmbus;
};
class IntelICH5Io final : public IntelIchSmbus {
 public:
  using IntelIchSmbus::IntelIchSmbus;
};

}  // namespace rq::hw
