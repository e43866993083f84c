#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "devices/Candidates.h"
#include "hw/I2CIo.h"

namespace rq::devices {

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

  const std::string& GetModel() const { return model_; }
  const std::string& GetDescription() const { return description_; }

 protected:
  std::string model_;
  std::string description_;
};

// The thirteen clock generators in probe order; the list depends on the board model.
CandidateList<I2cClockGenIo> ClockGeneratorCandidates(const std::string& boardModel);

}  // namespace rq::devices
