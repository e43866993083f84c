#pragma once
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "devices/Candidates.h"
#include "hw/I2CIo.h"

namespace rq::devices {

// The SMBus controller a clock generator talks through, with the host kind it was
// made for (the kind also gates detection). A null controller means no supported
// host: every Detect then answers false.
struct ClockGenBus {
  std::unique_ptr<hw::I2CIo> controller;
  std::int16_t hostKind = hw::kHostNone;
};

// Probes the SMBus host and creates the controller that matches its kind, aimed at
// the clock generator (0xD2). Hosts no clock generator is reached through (the
// nVidia MCP) and a failed probe give a null controller.
ClockGenBus OpenClockGenBus();

// One chip register per entry, indexed by register number; every operation starts
// from a fresh, zeroed image so a failed read yields what zero registers give.
using RegisterImage = std::array<std::int32_t, 32>;

// The clocks the chip makes, all derived from one reading of its registers.
struct DerivedClocks {
  double fsb = 0.0;
  double agp = 0.0;
  double pci = 0.0;
  // False when a register read failed: the numbers are what zeroed registers give,
  // not the chip's clocks, and must not be shown or acted on.
  bool read = true;
};

// A clock generator on the SMBus (address 0xD2): reads and programs the PLL that
// makes the FSB, derives the AGP and PCI clocks and drives the hardware watchdog.
class I2cClockGenIo {
 public:
  virtual ~I2cClockGenIo() = default;

  virtual unsigned GetCpuDivider() = 0;
  virtual unsigned GetAgpDivider() = 0;
  virtual unsigned GetPciDivider() = 0;
  virtual unsigned GetPllM() = 0;
  virtual unsigned GetPllN() = 0;
  virtual bool Detect() = 0;
  virtual void SetWatchdogTime(int seconds) = 0;
  virtual void EnableWatchdog(bool on) = 0;
  virtual double GetDefaultFsb() = 0;
  virtual void SetFsb(double mhz) = 0;
  virtual double GetFsb() = 0;
  virtual double GetAgpClock(double fsb) = 0;
  virtual double GetPciClock(double fsb) = 0;
  virtual double GetMemRefClock() = 0;
  // True when GetDefaultFsb names the board's power-on clock whatever the PLL runs
  // at now (a frequency-select strap the chip keeps); false for parts that can only
  // class the clock they run at, whose answer moves once the clock is changed.
  virtual bool ReportsPowerOnFsb() const { return true; }
  // The fastest clock SetFsb can make with the chip's present dividers (its PLL
  // count at the top of its field); a faster target would be clamped to it.
  // Unbounded for parts that do not say.
  virtual double GetHighestFsb() { return std::numeric_limits<double>::infinity(); }

  // GetFsb, GetAgpClock and GetPciClock in one bus sequence: each register they
  // read crosses the bus once, and all three clocks come from that one reading.
  DerivedClocks ReadClocks();

  const std::string& GetModel() const { return model_; }
  const std::string& GetDescription() const { return description_; }

 protected:
  // Without a controller: for stand-ins that never touch a bus.
  I2cClockGenIo() = default;
  I2cClockGenIo(ClockGenBus bus, std::string model, std::string description)
      : model_(std::move(model)),
        description_(std::move(description)),
        bus_(std::move(bus.controller)),
        hostKind_(bus.hostKind) {}

  // While ReadClocks runs, the register snapshot stands in for the controller.
  hw::I2CIo* Bus() const { return snapshot_ != nullptr ? snapshot_ : bus_.get(); }
  // Fetches, in one transfer where the part allows it, the registers its clocks
  // are derived from, ahead of the derivation; the default fetches nothing.
  virtual void PrefetchClockRegisters() {}
  std::int16_t HostKind() const { return hostKind_; }

  std::string model_;
  std::string description_;

 private:
  std::unique_ptr<hw::I2CIo> bus_;
  std::int16_t hostKind_ = hw::kHostNone;
  hw::I2CIo* snapshot_ = nullptr;
};

// The thirteen clock generators in probe order; the list depends on the board model.
CandidateList<I2cClockGenIo> ClockGeneratorCandidates(const std::string& boardModel);

}  // namespace rq::devices
