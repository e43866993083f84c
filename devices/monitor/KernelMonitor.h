#pragma once
#include <array>
#include <memory>
#include <string>

#include "devices/monitor/HwmonSensors.h"
#include "devices/monitor/ISAHwMonitorIo.h"

namespace rq::devices {

// A monitor chip of the program's families whose ports a kernel driver owns. The
// sensors come from the driver's hwmon attributes (plain files: no port is touched, no
// bus lock is taken), scaled by the chip's own rules for the board's dividers and
// switched by the board's section, so the fifteen sensors read as through the ports.
class KernelHwMonitorIo final : public ISAHwMonitorIo {
 public:
  // The driver's channel of each sensor, counted from 1 (voltage channel c is the
  // driver's in<c - 1>); 0 for a sensor the chip lacks.
  struct Wiring {
    std::array<unsigned, 3> temperatures;
    std::array<unsigned, 3> fans;
    std::array<unsigned, kRailCount> rails;
  };
  KernelHwMonitorIo(std::unique_ptr<ISAHwMonitorIo> chip, HwmonChip driver, const Wiring& wiring);

  bool Probe() override { return true; }
  bool ReadTempSensor1(double& value) override { return ReadTemperature("TempSensor1", 0, value); }
  bool ReadTempSensor2(double& value) override { return ReadTemperature("TempSensor2", 1, value); }
  bool ReadTempSensor3(double& value) override { return ReadTemperature("TempSensor3", 2, value); }
  bool ReadFan1(std::int32_t& rpm) override { return ReadFanRpm("Fan1", 0, rpm); }
  bool ReadFan2(std::int32_t& rpm) override { return ReadFanRpm("Fan2", 1, rpm); }
  bool ReadFan3(std::int32_t& rpm) override { return ReadFanRpm("Fan3", 2, rpm); }
  bool ReadVCoreA(double& value) override { return ReadRail("VCoreA", kVCoreA, value); }
  bool ReadVCoreB(double& value) override { return ReadRail("VCoreB", kVCoreB, value); }
  bool ReadV33(double& value) override { return ReadRail("V33", kV33, value); }
  bool ReadV5(double& value) override { return ReadRail("V5", kV5, value); }
  bool ReadV12(double& value) override { return ReadRail("V12", kV12, value); }
  bool ReadVN12(double& value) override { return ReadRail("VN12", kVN12, value); }
  bool ReadVN5(double& value) override { return ReadRail("VN5", kVN5, value); }
  bool ReadVBAT(double& value) override { return ReadRail("VBAT", kVBat, value); }
  bool Read5VSB(double& value) override { return ReadRail("5VSB", k5VSb, value); }

  std::optional<double> RailVolts(Rail rail, double pinVolts) const override {
    return chip_->RailVolts(rail, pinVolts);
  }
  std::string Adapter() const override { return "kernel hwmon (" + driver_.name + ")"; }
  const std::string& DriverName() const { return driver_.name; }
  // The registers are the kernel driver's: none is read for a dump.
  std::vector<RegisterBank> ReadRegisterBanks() const override { return {}; }

 private:
  bool ReadTemperature(const char* key, std::size_t slot, double& value) const;
  bool ReadFanRpm(const char* key, std::size_t slot, std::int32_t& rpm) const;
  bool ReadRail(const char* key, Rail rail, double& value) const;
  std::optional<double> ReadAttribute(HwmonQuantity quantity, const std::string& prefix,
                                      unsigned channel) const;

  std::unique_ptr<ISAHwMonitorIo> chip_;
  HwmonChip driver_;
  Wiring wiring_;
};

// The monitor chip a kernel driver owns, found by the name of its hwmon device
// ("w83627hf", "w83697hf", "it87" for the IT8705F, "it8712"); null when there is none.
std::unique_ptr<ISAHwMonitorIo> FindKernelOwnedMonitor(const std::string& sysfsRoot);

}  // namespace rq::devices
