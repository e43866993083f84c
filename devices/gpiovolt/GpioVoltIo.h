#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/Candidates.h"
#include "hw/IOInterface.h"

namespace rq::devices {

// Over-voltage through south-bridge GPIO pins wired to the voltage regulators. Two
// pins make a 2-bit level; which voltage a level gives is board wiring, so the
// board's settings section lists it: four core steps in percent above the default
// core voltage and four memory voltages, each indexed by level. The pins are the
// only state: every query reads them back.
class GpioVoltIo : public hw::IOInterface {
 public:
  // Where a south bridge is found and where it keeps its GPIO base.
  struct PciWord {
    std::uint8_t bus;
    std::uint8_t device;
    std::uint8_t function;
    std::uint8_t offset;
  };
  // What tells the six south bridges apart beyond their level registers.
  struct Traits {
    const char* model;
    const char* description;
    PciWord identity;  // vendor word at the offset, device word two above
    std::uint16_t vendorId;
    std::uint16_t deviceId;
    PciWord gpioBase;
    // Some level codes are not wired on a board family: the level chosen is
    // mapped before it reaches the pins.
    std::array<int, 4> coreLevelMap;
    // Added to the computed default core voltage (the regulator's offset on the
    // boards that measure low).
    double defaultCoreOffset;
    std::uint32_t coreSettleMs;
    // The raise table's first row: from this default voltage, to this target.
    double lowestRaisedDefault;
    double firstRaiseTarget;
    double raisedMemoryVolts;
    // The registers around the level pins, for a register dump: 16-byte rows from
    // this offset of the block. Reading them changes nothing.
    std::uint8_t dumpFirst;
    std::uint8_t dumpRows;
  };

  // The GPIO registers as they read now, for a bug report.
  struct RegisterWindow {
    std::uint16_t base;
    std::uint8_t first;
    std::vector<std::optional<std::uint8_t>> bytes;  // nullopt: the read failed
  };
  // Nullopt when the south bridge holds no usable GPIO base.
  std::optional<RegisterWindow> ReadRegisterWindow() const;

  ~GpioVoltIo() override = default;

  virtual void SetCoreVoltage(double volts);
  virtual void SetMemoryVoltage(double volts);
  virtual bool Detect();
  virtual double ReadDefaultCoreVoltage();
  virtual double ReadCoreVoltage();
  virtual double ReadMemoryVoltage();
  virtual void RaiseCoreVoltage();
  virtual void RaiseMemoryVoltage();
  virtual void RestoreCoreVoltage();
  virtual void RestoreMemoryVoltage();

  const std::string& GetModel() const { return model_; }
  const std::string& GetDescription() const { return description_; }
  bool CoreEnabled() const { return coreEnabled_; }
  bool MemoryEnabled() const { return memoryEnabled_; }
  double DefaultCoreVoltage() const { return defaultCoreVoltage_; }

  static constexpr int kLevels = 4;
  static constexpr double kRestoredMemoryVolts = 2.5;

 protected:
  // Reads the board's switches and lists; measures the default core voltage.
  // Derived constructors call Load() once their own members exist.
  explicit GpioVoltIo(const Traits& traits);
  void Load();

  // The GPIO block at the base the south bridge's configuration holds now.
  class Block {
   public:
    Block(const GpioVoltIo& io, std::uint16_t base) : io_(io), base_(base) {}
    std::optional<std::uint8_t> Read(std::uint8_t offset) const;
    void Write(std::uint8_t offset, std::uint8_t value) const;
    // One bit (0/1) of a register.
    std::optional<int> Bit(std::uint8_t offset, int bit) const;
    // Read-modify-write of the bits in `mask`, nothing written when the read fails.
    void SetBits(std::uint8_t offset, std::uint8_t mask, std::uint8_t bits) const;
    std::uint16_t Base() const { return base_; }

   private:
    const GpioVoltIo& io_;
    std::uint16_t base_;
  };

  // Each south bridge's pins; nullopt when a register cannot be read.
  virtual std::optional<int> ReadCoreLevel(const Block& block) const = 0;
  virtual void WriteCoreLevel(const Block& block, int level) const = 0;
  virtual std::optional<int> ReadMemoryLevel(const Block& block) const = 0;
  virtual void WriteMemoryLevel(const Block& block, int level) const = 0;

 private:
  // Re-read on every access: the base may have been moved since the last one.
  std::optional<Block> CurrentBlock() const;
  std::optional<int> CoreLevel() const;
  std::optional<int> MemoryLevel() const;
  std::optional<double> MeasureCore() const;

  const Traits& traits_;
  std::string model_;
  std::string description_;
  bool coreEnabled_ = false;
  bool memoryEnabled_ = false;
  double defaultCoreVoltage_ = 0.0;
  // Entries 0-3: core steps in percent; 4-7: memory voltages.
  std::array<double, 2 * kLevels> lists_{};
};

// Reads a board list ("10,7.5,5,0"): the first four numbers; a shorter list
// ("2.5,2.7") leaves the levels it does not name at 0. Nothing when the text is
// empty or a piece is not a number (a garbled step would give a level the wrong
// meaning). Numbers beyond the fourth are ignored.
std::optional<std::array<double, GpioVoltIo::kLevels>> ParseLevelList(const std::string& text);

// Detection order: ICH2, ICH4, ICH5, VT8235, VT8237, SiS 962/963.
CandidateList<GpioVoltIo> GpioVoltageCandidates();

}  // namespace rq::devices
