#include "devices/SmbusController.h"

#include <algorithm>

#include "devices/SystemFacts.h"

namespace rq::devices {
namespace {

// Every transfer holds the SMBus (joining the sequence its caller holds), and none
// goes out when the bus cannot be had: another program may be half-way through
// its own sequence on the host's registers.
class LockedI2CIo final : public hw::I2CIo {
 public:
  explicit LockedI2CIo(std::unique_ptr<hw::I2CIo> host)
      : I2CIo(host->DeviceAddress()), host_(std::move(host)) {}

  void ClearStatus() override {
    SmbusLock lock;
    if (lock.Held()) host_->ClearStatus();
  }
  bool IsByteDone() override {
    return Locked([this] { return host_->IsByteDone(); }, false);
  }
  bool IsBusy() override {
    return Locked([this] { return host_->IsBusy(); }, false);
  }
  bool IsIdle() override {
    return Locked([this] { return host_->IsIdle(); }, false);
  }
  bool IsComplete() override {
    return Locked([this] { return host_->IsComplete(); }, false);
  }
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override {
    return Locked([&] { return host_->ReadBlock(buffer, start, count); }, 0U);
  }
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override {
    return Locked([&] { return host_->WriteBlock(buffer, start, count); }, 0U);
  }
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override {
    return Locked([&] { return host_->ReadByte(value, command); }, false);
  }
  void WriteByte(std::uint8_t value, std::uint8_t command) override {
    SmbusLock lock;
    if (lock.Held()) host_->WriteByte(value, command);
  }

 private:
  template <typename Transfer, typename Result>
  static Result Locked(Transfer transfer, Result refused) {
    SmbusLock lock;
    return lock.Held() ? transfer() : refused;
  }

  std::unique_ptr<hw::I2CIo> host_;
};

}  // namespace

SmbusController OpenSmbusController(std::uint8_t address, std::initializer_list<std::int16_t> kinds) {
  SmbusController bus;
  if (!hw::DetectSmbusHost()) return bus;
  bus.hostKind = hw::ProcessSmbusHost().kind;
  if (std::find(kinds.begin(), kinds.end(), bus.hostKind) != kinds.end()) {
    if (auto host = hw::CreateI2CIo(hw::ProcessSmbusHost(), address))
      bus.controller = std::make_unique<LockedI2CIo>(std::move(host));
  }
  return bus;
}

}  // namespace rq::devices
