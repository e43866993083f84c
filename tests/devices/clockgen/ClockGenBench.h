#pragma once
// A clock generator driver wired straight to a simulated part: an SMBus controller
// that hands each transfer to the part as the host would, the platform facts the
// detection gates read, and the board outputs the part drives.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/SystemFacts.h"
#include "devices/clockgen/I2cClockGenIo.h"
#include "devices/northbridge/PciMchIo.h"
#include "hw/DriverHandle.h"
#include "sim/clockgen/ClockGenChip.h"

namespace rq::devices::testing {

// What a clock generator consults of the system on a board: the bus lock, the
// north bridge and the board model.
inline SystemFacts BoardFacts(platform::BusSemaphore& semaphore, const PciMchIo* northBridge,
                              const std::string& boardModel) {
  SystemFacts facts;
  facts.busSemaphore = &semaphore;
  facts.northBridge = northBridge;
  facts.boardModel = boardModel;
  return facts;
}

// Records what the part drives on the board.
struct RecordingOutputs : sim::ClockGenOutputs {
  double fsb = 0.0;
  std::chrono::milliseconds timeout{0};
  bool enabled = false;
  int enableChanges = 0;
  void BusClockChanged(double mhz) override { fsb = mhz; }
  void WatchdogTimeoutChanged(std::chrono::milliseconds t) override { timeout = t; }
  void WatchdogEnableChanged(bool on) override {
    enabled = on;
    ++enableChanges;
  }
};

// A host that moves bytes to and from one device, with the block semantics of the
// real hosts: a count of 0 takes the count the device reports.
class DirectI2CIo : public hw::I2CIo {
 public:
  explicit DirectI2CIo(sim::SmbusDevice* device) : I2CIo(0xD2), device_(device) {}
  void ClearStatus() override {}
  bool IsByteDone() override { return true; }
  bool IsBusy() override { return false; }
  bool IsIdle() override { return true; }
  bool IsComplete() override { return true; }
  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override;
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override;
  void WriteByte(std::uint8_t value, std::uint8_t command) override;

  int transfers = 0;

 private:
  sim::SmbusDevice* device_;
};

class FakeNorthBridge : public PciMchIo {
 public:
  explicit FakeNorthBridge(bool k7) : PciMchIo("test", "test north bridge", k7) {}
  bool Detect() override { return true; }
  double GetMemoryClock(double fsb) override { return fsb; }
};

// Serves the two watchdog ports of the parts that keep their watchdog there.
class PortHandle : public hw::DriverHandle {
 public:
  explicit PortHandle(sim::PortDevice* ports) : ports_(ports) {}
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> writes;

 private:
  sim::PortDevice* ports_;
};

// The platform a part sits on: host kind, north bridge and board model.
struct Platform {
  std::int16_t hostKind;
  bool northBridge = true;
  bool k7 = false;
  std::string boardModel;
};

// One part on its platform, with its driver object built by `make`.
class Bench {
 public:
  Bench(const std::string& simType, sim::ClockGenStrap strap, const Platform& platform);
  ~Bench();

  // A controller aimed at the part, for the platform's host kind.
  ClockGenBus Bus();
  template <typename Driver>
  std::unique_ptr<Driver> Make() {
    return std::make_unique<Driver>(Bus());
  }

  // Register writes straight into the part, as another bus master would.
  void Poke(std::uint8_t reg, std::uint8_t value);
  std::uint8_t Reg(std::uint8_t reg) const { return chip->RegisterFile()[reg]; }

  Platform platform;
  RecordingOutputs outputs;
  std::unique_ptr<sim::ClockGenChip> chip;
  DirectI2CIo* lastController = nullptr;

 private:
  platform::BusSemaphore semaphore_;
  FakeNorthBridge northBridge_;
  SystemFacts saved_;
  std::unique_ptr<PortHandle> ports_;
  std::unique_ptr<hw::ScopedDriverHandle> driver_;
};

}  // namespace rq::devices::testing
