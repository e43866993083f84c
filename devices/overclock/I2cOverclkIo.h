#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "devices/Candidates.h"
#include "hw/I2CIo.h"

namespace rq::devices {

// What tells the two controller models apart.
struct OverclockModel {
  const char* modelName;
  // The north bridge's AMD-K7 flag the model is found beside.
  bool k7Platform;
  // Boards whose model begins with "N" take the override at register 10.
  bool overrideAt10OnNBoards;
  // Lowest of the two output pins in the data register that select the memory voltage.
  unsigned memoryPinShift;
};

// A jumper-free overclock controller on the SMBus (address 0x9C): overrides the
// core voltage code and drives the memory supply through two output pins. Every
// operation holds the bus semaphore across its whole register sequence.
class I2cOverclkIo {
 public:
  virtual ~I2cOverclkIo() = default;
  I2cOverclkIo(const I2cOverclkIo&) = delete;
  I2cOverclkIo& operator=(const I2cOverclkIo&) = delete;

  virtual bool Probe();
  virtual double ReadDefaultCoreVoltage();
  virtual double ReadCoreVoltage();
  virtual double ReadMemoryVoltage();
  virtual void RaiseCoreVoltage();
  virtual void RaiseMemoryVoltage();
  virtual void RestoreCoreVoltage();
  virtual void RestoreMemoryVoltage();
  // A voltage between table entries is lowered to the nearest entry below it; one
  // below the whole table changes nothing.
  virtual void SetCoreVoltage(double volts);
  virtual void SetMemoryVoltage(double volts);

  const std::string& GetModel() const { return modelName_; }
  const std::string& GetDescription() const { return description_; }
  double DefaultCoreVoltage() const { return defaultCoreVoltage_; }
  int OverrideRegister() const { return vidOverrideRegister_; }

  static constexpr std::uint8_t kDeviceAddress = 0x9C;  // 7-bit 0x4E
  static constexpr double kRaisedMemoryVoltage = 2.7;
  static constexpr double kDefaultMemoryVoltage = 2.5;

 protected:
  // Without a controller: for stand-ins that never touch a bus.
  I2cOverclkIo() = default;
  explicit I2cOverclkIo(const OverclockModel& model);

  int vidRegister_ = 1;
  int vidOverrideRegister_ = 0;
  int memoryRegister_ = 6;
  double defaultCoreVoltage_ = 0.0;
  std::string modelName_;
  std::string description_;
  std::unique_ptr<hw::I2CIo> smbus_;

 private:
  std::optional<std::uint8_t> Read(int reg);
  void Write(int reg, std::uint8_t value);
  double CoreVoltageOf(std::uint8_t code) const;

  bool k7Platform_ = false;
  unsigned memoryPinShift_ = 0;
};

// The core voltage to raise to from the board's own voltage; unchanged outside
// the raised bands.
double RaisedCoreVoltage(double defaultVolts);

class ATX3PIo : public I2cOverclkIo {
 public:
  ATX3PIo();
};

class ATX1PIo : public I2cOverclkIo {
 public:
  ATX1PIo();
};

// ATX3PIo first, then ATX1PIo.
CandidateList<I2cOverclkIo> OverclockControllerCandidates();

}  // namespace rq::devices
