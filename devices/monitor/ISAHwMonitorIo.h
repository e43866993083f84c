#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/Candidates.h"
#include "devices/SystemFacts.h"
#include "hw/IOInterface.h"

namespace rq::devices {

// Base of the hardware monitor chips: the ISA index/data pair of the monitor.
class ISAIo : public hw::IOInterface {
 protected:
  std::uint32_t indexPort_ = 0x295;
  std::uint32_t dataPort_ = 0x296;
};

// A hardware monitor chip: temperatures, fans and voltages. A read returns false
// for a sensor the chip lacks, the board switches off (its key in the board's
// settings section is 0; checked before any port is touched) or whose register
// cannot be read.
class ISAHwMonitorIo : public ISAIo {
 public:
  // The rails in the order of the resistor table.
  enum Rail : std::size_t { kVCoreA, kVCoreB, kV33, kV5, kV12, kVN12, kVN5, kVBat, k5VSb, kRailCount };
  // External divider of a rail: r1 to the rail (or reference), r2 to ground;
  // 0/0 means the rail reaches the pin directly.
  struct ResistorPair {
    std::int32_t r1;
    std::int32_t r2;
  };
  using ResistorTable = std::array<ResistorPair, kRailCount>;

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

  // The rail's voltage from the voltage at the chip's pin: the board's divider and, for
  // a negative rail, the chip's own reference; nothing for a rail the chip cannot scale.
  virtual std::optional<double> RailVolts(Rail rail, double pinVolts) const;
  // How the chip is reached, as `rqctl sensors` names it.
  virtual std::string Adapter() const { return "ISA adapter"; }

  const std::string& GetModel() const { return modelName_; }
  const std::string& GetDescription() const { return description_; }

  // Every register behind the index/data pair, for a dump; a byte the driver
  // refused is empty. Chips with banks give one per bank and leave the bank
  // select as they found it; `bank` is -1 for a chip without banks.
  struct RegisterBank {
    int bank;
    std::array<std::optional<std::uint8_t>, 256> bytes;
  };
  virtual std::vector<RegisterBank> ReadRegisterBanks() const;

 protected:
  ISAHwMonitorIo(std::string modelName, std::string description, const ResistorTable& resistors)
      : modelName_(std::move(modelName)), description_(std::move(description)), resistors_(resistors) {}

  // The sensor's switch in the board's settings section, read anew on every call.
  static bool TemperatureOn(const char* key);
  static bool FanOn(const char* key);
  static bool VoltageOn(const char* key);

  // The chip for one sequence that selects a bank or a register and then relies on
  // it: the bus of the index/data pair (kept from other programs too, see BusHold)
  // and the chip (the monitor window's thread and the voltage controllers read it
  // from different threads). When the bus cannot be had, Held() is false and no
  // register of the sequence is touched.
  class ChipHold {
   public:
    ChipHold(std::uint32_t key, std::recursive_mutex& chip) : bus_(key), chip_(chip, std::defer_lock) {
      if (bus_.Held()) chip_.lock();
    }
    bool Held() const { return bus_.Held(); }

   private:
    BusHold bus_;
    std::unique_lock<std::recursive_mutex> chip_;
  };
  [[nodiscard]] ChipHold HoldChip() const { return ChipHold(indexPort_, chipMutex_); }

  // One register of the monitor through the index/data pair; nullopt when the
  // driver refuses the access.
  std::optional<std::uint8_t> ReadRegister(std::uint8_t reg) const;
  bool WriteRegister(std::uint8_t reg, std::uint8_t value) const;

  // A positive rail: the ADC step, then the divider when it has one.
  bool ReadPositive(const char* key, Rail rail, std::uint8_t reg, double& value) const;
  double ScalePositive(Rail rail, std::uint8_t raw) const { return PositiveRailVolts(rail, AdcVolts(raw)); }
  double PositiveRailVolts(Rail rail, double pinVolts) const;
  double AdcVolts(std::uint8_t raw) const { return raw * voltageLsb_; }
  // An 8-bit temperature register in whole degrees, two's complement.
  bool ReadTemperature8(const char* key, std::uint8_t reg, double& value) const;
  // A fan count register; the divisor code comes from `code` once the count shows
  // a turning fan.
  template <typename DivisorCode>
  bool ReadFan(const char* key, std::uint8_t countReg, std::int32_t& rpm, DivisorCode code) const {
    if (!FanOn(key)) return false;
    const auto count = ReadRegister(countReg);
    if (!count) return false;
    if (IsStopped(*count)) {
      rpm = 0;
      return true;
    }
    const auto divisorCode = code();
    if (!divisorCode) return false;
    rpm = FanRpm(*count, *divisorCode);
    return true;
  }
  static bool IsStopped(std::uint8_t count);
  static std::int32_t FanRpm(std::uint8_t count, unsigned divisorCode);
  // Every temperature and voltage leaves with at most two decimals.
  static double TwoDecimals(double value);

  const ResistorPair& Resistors(Rail rail) const { return resistors_[rail]; }
  void SetResistors(Rail rail, ResistorPair pair) { resistors_[rail] = pair; }

  std::string modelName_;
  std::string description_;
  double voltageLsb_ = 0.016;

 private:
  ResistorTable resistors_;
  mutable std::recursive_mutex chipMutex_;
};

// Detection order: both Winbond chips, then the three ITE chips.
CandidateList<ISAHwMonitorIo> HardwareMonitorCandidates();

}  // namespace rq::devices
