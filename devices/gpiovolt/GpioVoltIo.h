#pragma once
#include <string>

#include "devices/Candidates.h"
#include "hw/IOInterface.h"

namespace rq::devices {

// Over-voltage through south-bridge GPIO pins wired to the voltage regulators.
class GpioVoltIo : public hw::IOInterface {
 public:
  virtual void SetCoreVoltage(double volts) = 0;
  virtual void SetMemoryVoltage(double volts) = 0;
  virtual bool Detect() = 0;
  virtual double ReadDefaultCoreVoltage() = 0;
  virtual double ReadCoreVoltage() = 0;
  virtual double ReadMemoryVoltage() = 0;
  virtual void RaiseCoreVoltage() = 0;
  virtual void RaiseMemoryVoltage() = 0;
  virtual void RestoreCoreVoltage() = 0;
  virtual void RestoreMemoryVoltage() = 0;

  const std::string& GetModel() const { return model_; }
  const std::string& GetDescription() const { return description_; }
  bool CoreEnabled() const { return coreEnabled_; }
  bool MemoryEnabled() const { return memoryEnabled_; }

 protected:
  std::string model_;
  std::string description_;
  bool coreEnabled_ = false;
  bool memoryEnabled_ = false;
};

// Detection order; none is supported yet, so the family reports absent.
CandidateList<GpioVoltIo> GpioVoltageCandidates();

}  // namespace rq::devices
