#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/PortSpace.h"
#include "sim/Smbus.h"

namespace rq::sim {

// What a clock generator drives on the board: the bus clock its PLL makes and the
// watchdog its registers program.
class ClockGenOutputs {
 public:
  virtual ~ClockGenOutputs() = default;
  virtual void BusClockChanged(double mhz) = 0;
  virtual void WatchdogTimeoutChanged(std::chrono::milliseconds timeout) = 0;
  virtual void WatchdogEnableChanged(bool on) = 0;
};

// A clock generator on the SMBus at 0x69. The register file holds the PLL, output
// divider, frequency-select and watchdog registers; whatever is written there
// decides, register by register, the clock the board runs at.
class ClockGenChip : public SmbusDevice {
 public:
  static constexpr std::uint8_t kAddress = 0x69;
  static constexpr std::size_t kRegisterCount = 32;
  using Registers = std::array<std::uint8_t, kRegisterCount>;

  // How the part is reached on the wire.
  enum class Access {
    kIcsBlock,  // block transfers from the command register on, byte count in register 8
    kCypress,   // byte commands 0x80 | r, block transfers at commands below 0x80
  };

  struct WatchdogSetting {
    std::chrono::milliseconds timeout{0};
    bool enabled = false;
    bool operator==(const WatchdogSetting&) const = default;
  };

  ~ClockGenChip() override = default;

  std::string Name() const override { return type_; }
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;

  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override;
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override;
  bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) override;
  bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) override;

  // The clock the PLL makes now.
  double BusClock() const { return PllOutput(registers_); }
  WatchdogSetting Watchdog() const { return watchdog_; }
  const Registers& RegisterFile() const { return registers_; }

  // The two parts whose watchdog sits at I/O ports 0x104A (seconds) and 0x104B
  // (bit 7: enable) answer those ports here; the others have none.
  static constexpr std::uint16_t kWatchdogFirstPort = 0x104A;
  static constexpr std::uint16_t kWatchdogLastPort = 0x104B;
  virtual PortDevice* WatchdogPorts() { return nullptr; }

  // Hands the chip the outputs object it was built with, to live as long as it.
  void KeepOutputs(std::unique_ptr<ClockGenOutputs> outputs) { ownedOutputs_ = std::move(outputs); }

 protected:
  ClockGenChip(std::string type, Access access, ClockGenOutputs& outputs);
  // Derived parts call this once their power-on image is known.
  void SetPowerOn(const Registers& image, std::uint32_t readOnlyMask);

  virtual double PllOutput(const Registers& r) const = 0;
  virtual WatchdogSetting WatchdogFrom(const Registers& r) const = 0;
  // Cypress parts: bytes a block transfer at command 0 carries.
  virtual std::size_t BlockLength() const { return 18; }

  // Re-evaluates clock and watchdog after the registers or ports changed.
  void Settle();

 private:
  bool Writable(std::size_t reg) const { return reg < kRegisterCount && !((readOnly_ >> reg) & 1U); }
  void Store(std::size_t reg, std::uint8_t value);

  std::unique_ptr<ClockGenOutputs> ownedOutputs_;
  std::string type_;
  Access access_;
  ClockGenOutputs& outputs_;
  Registers powerOn_{};
  Registers registers_{};
  std::uint32_t readOnly_ = 0;
  double busClock_ = 0.0;
  WatchdogSetting watchdog_{};
};

// The configuration a profile gives a clock generator: the frequency-select
// setting (strap index into the part's frequency table) or, for the parts that
// have no table, the power-on bus clock in MHz.
struct ClockGenStrap {
  int frequencySelect = -1;
  double fsb = 0.0;
};

// Builds a part by its profile type name ("ics950218", "cy28405", ...); null for
// an unknown name. Throws std::invalid_argument when the strap does not suit it.
std::unique_ptr<ClockGenChip> MakeClockGenChip(const std::string& type, const ClockGenStrap& strap,
                                               ClockGenOutputs& outputs);
std::vector<std::string> ClockGenChipTypes();
// The strap a board gets when its profile names none: the frequency-select entry
// nearest to `powerOnFsb`, or that clock itself for a part without a table.
ClockGenStrap StrapNearest(const std::string& type, double powerOnFsb);
// The entries a part's frequency-select setting can take (0 for none).
std::size_t FrequencySelectEntries(const std::string& type);

}  // namespace rq::sim
