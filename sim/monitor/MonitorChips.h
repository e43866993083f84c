#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/Chip.h"
#include "sim/PortSpace.h"

namespace rq::sim {

class Board;

// What the kernel's driver of a monitor chip publishes in its hwmon folder, computed
// as the driver computes it from the chip's registers: pins in millivolts,
// millidegrees, RPM.
struct KernelHwmonView {
  std::string driver;  // the kernel module, which names the platform device; empty: none
  std::string name;    // the hwmon device's name, the chip's as the driver calls it
  std::vector<std::pair<std::string, long>> attributes;  // "in0_input" -> 1504
};

// A Super I/O chip with its hardware monitor: the monitor's index/data pair at
// base + 5 / base + 6 and the Super I/O configuration pair at 0x2E / 0x2F. The
// monitor samples the board's analogue side whenever a register is read, through
// the chip's own input dividers, ADC step and fan divisors.
class SuperIoMonitor : public Chip, public PortDevice {
 public:
  static constexpr std::uint16_t kConfigIndex = 0x2E;
  static constexpr std::uint16_t kConfigData = 0x2F;
  static constexpr std::uint16_t kIndexOffset = 5;
  static constexpr std::uint16_t kDataOffset = 6;

  SuperIoMonitor(Board& board, std::string name, std::uint16_t base);
  ~SuperIoMonitor() override;
  SuperIoMonitor(const SuperIoMonitor&) = delete;
  SuperIoMonitor& operator=(const SuperIoMonitor&) = delete;

  std::string Name() const override { return name_; }
  std::uint16_t Base() const { return base_; }
  std::uint16_t IndexPort() const { return static_cast<std::uint16_t>(base_ + kIndexOffset); }
  std::uint16_t DataPort() const { return static_cast<std::uint16_t>(base_ + kDataOffset); }
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;

  // Monitor registers as the program's index/data accesses see them; reading
  // changes nothing.
  virtual std::uint8_t ReadRegister(std::uint8_t reg) const = 0;
  virtual void WriteRegister(std::uint8_t reg, std::uint8_t value) = 0;
  // The kernel driver's view of the chip now; reads change nothing, as ReadRegister.
  virtual KernelHwmonView KernelView() const = 0;

 protected:
  virtual void ResetRegisters() = 0;
  // The Super I/O configuration pair: key writes, the selected register, exit.
  virtual void ConfigIndexWrite(std::uint8_t value) = 0;
  virtual std::uint8_t ConfigDataRead() = 0;
  virtual void ConfigDataWrite(std::uint8_t value) = 0;
  virtual nlohmann::json InspectRegisters() const = 0;
  // The unbanked registers that carry measurements, shown by Inspect as read now.
  virtual std::vector<std::uint8_t> SensorRegisters() const = 0;

  Board& board_;

 private:
  std::string name_;
  std::uint16_t base_;
  std::uint8_t index_ = 0;
};

}  // namespace rq::sim
