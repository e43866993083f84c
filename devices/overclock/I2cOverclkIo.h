#pragma once
#include <string>

#include "devices/Candidates.h"

namespace rq::devices {

// A jumper-free overclock controller on the SMBus (address 0x9C): overrides the
// core voltage code and drives the memory supply.
class I2cOverclkIo {
 public:
  virtual ~I2cOverclkIo() = default;
  virtual bool Probe() = 0;
  virtual double ReadDefaultCoreVoltage() = 0;
  virtual double ReadCoreVoltage() = 0;
  virtual double ReadMemoryVoltage() = 0;
  virtual void RaiseCoreVoltage() = 0;
  virtual void RaiseMemoryVoltage() = 0;
  virtual void RestoreCoreVoltage() = 0;
  virtual void RestoreMemoryVoltage() = 0;
  virtual void SetCoreVoltage(double volts) = 0;
  virtual void SetMemoryVoltage(double volts) = 0;

  const std::string& GetModel() const { return modelName_; }
  const std::string& GetDescription() const { return description_; }

 protected:
  std::string modelName_;
  std::string description_;
};

// Detection order; no controller is supported yet, so the family reports absent.
CandidateList<I2cOverclkIo> OverclockControllerCandidates();

}  // namespace rq::devices
