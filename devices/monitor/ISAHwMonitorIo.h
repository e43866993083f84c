#pragma once
#include <cstdint>
#include <string>

#include "devices/Candidates.h"
#include "hw/IOInterface.h"

namespace rq::devices {

// Base of the hardware monitor chips: the ISA index/data pair of the monitor.
class ISAIo : public hw::IOInterface {
 protected:
  std::uint32_t indexPort_ = 0x295;
  std::uint32_t dataPort_ = 0x296;
};

// A hardware monitor chip: temperatures, fans and voltages. A read returns false
// for a sensor the chip lacks or the board switches off.
class ISAHwMonitorIo : public ISAIo {
 public:
  virtual bool Probe() = 0;
  virtual bool ReadTempSensor1(double& value) = 0;
  virtual bool ReadFan1(std::int32_t& rpm) = 0;
  virtual bool ReadTempSensor2(double& value) = 0;
  virtual bool ReadFan2(std::int32_t& rpm) = 0;
  virtual bool ReadTempSensor3(double& value) = 0;
  virtual bool ReadFan3(std::int32_t& rpm) = 0;
  virtual bool ReadVCoreA(double& value) = 0;
  virtual bool ReadVCoreB(double& value) = 0;
  virtual bool ReadV33(double& value) = 0;
  virtual bool ReadV5(double& value) = 0;
  virtual bool ReadV12(double& value) = 0;
  virtual bool ReadVN12(double& value) = 0;
  virtual bool ReadVN5(double& value) = 0;
  virtual bool ReadVBAT(double& value) = 0;
  virtual bool Read5VSB(double& value) = 0;

  const std::string& GetModel() const { return modelName_; }
  const std::string& GetDescription() const { return description_; }

 protected:
  std::string modelName_;
  std::string description_;
};

// Detection order; no monitor chip is supported yet, so the family reports absent.
CandidateList<ISAHwMonitorIo> HardwareMonitorCandidates();

}  // namespace rq::devices
