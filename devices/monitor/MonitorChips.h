#pragma once
#include <cstdint>
#include <mutex>

#include "devices/monitor/ISAHwMonitorIo.h"

namespace rq::devices {

// Both Winbond Super I/O chips: a banked register file (bank select 0x4E) with
// the vendor ID 0x5CA3 and a chip ID at 0x58.
class WinbondHwMonitorIo : public ISAHwMonitorIo {
 public:
  bool Probe() override;
  bool ReadTempSensor1(double& value) override;
  bool ReadFan1(std::int32_t& rpm) override;
  bool ReadTempSensor2(double& value) override;
  bool ReadFan2(std::int32_t& rpm) override;
  bool ReadTempSensor3(double& value) override;
  bool ReadFan3(std::int32_t& rpm) override;
  bool ReadVCoreA(double& value) override;
  bool ReadVCoreB(double& value) override;
  bool ReadV33(double& value) override;
  bool ReadV5(double& value) override;
  bool ReadV12(double& value) override;
  bool ReadVN12(double& value) override;
  bool ReadVN5(double& value) override;
  bool ReadVBAT(double& value) override;
  bool Read5VSB(double& value) override;
  std::vector<RegisterBank> ReadRegisterBanks() const override;
  std::optional<double> RailVolts(Rail rail, double pinVolts) const override;

 protected:
  WinbondHwMonitorIo(std::string modelName, std::uint8_t chipId);

 private:
  bool SelectBank(std::uint8_t bank) const;
  std::optional<std::uint8_t> ReadBanked(std::uint8_t bank, std::uint8_t reg) const;
  bool ReadNegative(const char* key, Rail rail, std::uint8_t reg, double& value) const;
  bool ReadBankedVoltage(const char* key, Rail rail, std::uint8_t reg, double& value) const;
  std::optional<unsigned> FanDivisorCode(int lowShift, int highBit) const;

  std::uint8_t chipId_;
};

class W83627HFIo final : public WinbondHwMonitorIo {
 public:
  W83627HFIo();
};

// The W83697HF has no second core input.
class W83697HFIo final : public WinbondHwMonitorIo {
 public:
  W83697HFIo();
  bool ReadVCoreB(double& value) override;
};

// The ITE environment controllers, identified through their Super I/O
// configuration ports (chip ID 0x87xx).
class IteHwMonitorIo : public ISAHwMonitorIo {
 public:
  bool Probe() override;
  bool ReadTempSensor1(double& value) override;
  bool ReadFan1(std::int32_t& rpm) override;
  bool ReadTempSensor2(double& value) override;
  bool ReadFan2(std::int32_t& rpm) override;
  bool ReadTempSensor3(double& value) override;
  bool ReadFan3(std::int32_t& rpm) override;
  bool ReadVCoreA(double& value) override;
  bool ReadVCoreB(double& value) override;
  bool ReadV33(double& value) override;
  bool ReadV5(double& value) override;
  bool ReadV12(double& value) override;
  bool ReadVN12(double& value) override;
  bool ReadVN5(double& value) override;
  bool ReadVBAT(double& value) override;
  bool Read5VSB(double& value) override;
  std::optional<double> RailVolts(Rail rail, double pinVolts) const override;

 protected:
  IteHwMonitorIo(std::string modelName, std::uint8_t chipIdLow, bool halvedV33);

 private:
  bool IdentifyInConfigurationMode(bool& matches) const;
  void LeaveConfigurationMode() const;
  bool ReadNegative(const char* key, Rail rail, std::uint8_t reg, double& value) const;
  std::optional<unsigned> FanDivisorCode(int fan) const;

  std::uint8_t chipIdLow_;
  mutable std::recursive_mutex configMutex_;
};

class IT8712FIo final : public IteHwMonitorIo {
 public:
  // Reads the board model: a few boards halve 3.3 V before the chip's pin.
  IT8712FIo();
};

class IT8705FIo final : public IteHwMonitorIo {
 public:
  IT8705FIo();
};

class IT8722FIo final : public IteHwMonitorIo {
 public:
  IT8722FIo();
};

}  // namespace rq::devices
