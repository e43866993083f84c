#pragma once
#include "hw/SmbusHost.h"

namespace rq::hw {

// The SiS 962/963 SMBus host. Only block transactions are used on it: the byte
// count sits at +7 and each data byte has its own port from +8.
class Sis962Io final : public SmbusHostIo {
 public:
  using SmbusHostIo::SmbusHostIo;

  void ClearStatus() override;
  bool IsByteDone() override;
  bool IsBusy() override;
  bool IsIdle() override;
  bool IsComplete() override;
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  // Byte transactions are not offered by this host class: the read reports
  // success and leaves the value as it was, the write does nothing.
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

 private:
  bool Failed();
  bool AcquireHost();
  bool AwaitCompletion();
  void Abort();
};

}  // namespace rq::hw
