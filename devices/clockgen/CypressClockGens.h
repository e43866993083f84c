#pragma once
// The six Cypress parts. Single registers are reached by byte commands 0x80 | r,
// the whole register file by a block transfer at command 0; after the last transfer
// of a sequence the bus is left quiet for 10 ms before it is released.
#include <cstdint>

#include "devices/clockgen/ClockGenSupport.h"
#include "devices/clockgen/I2cClockGenIo.h"

namespace rq::devices {

class CypressClockGenIo : public I2cClockGenIo {
 public:
  double GetMemRefClock() override { return 0.0; }

 protected:
  CypressClockGenIo(ClockGenBus bus, const char* model);

  // Inside a sequence the caller holds (CypressSequence).
  std::int32_t ReadRegister(std::uint8_t reg);  // 0 when the read fails
  void WriteRegister(std::uint8_t reg, std::int32_t value);
  // Whole sequences: lock, transfer, settle, unlock.
  std::int32_t ReadRegisterSequence(std::uint8_t reg);
  void WriteRegisterSequence(std::uint8_t reg, std::int32_t value);
  // Block read from register 0 with the part's own byte count, then write it
  // back with `change` applied in between.
  template <typename Change>
  void RewriteBlock(Change change) {
    RegisterImage image{};
    clockgen::BusSequence sequence(true);
    if (Bus() == nullptr) return;
    const unsigned count = Bus()->ReadBlock(image.data(), 0, 0);
    change(image);
    Bus()->WriteBlock(image.data(), 0, count);
  }
  bool Identify(std::uint8_t reg, std::int32_t id);
  double Divided(double fsb, unsigned divider);  // fsb x CPU divider / divider
};

// The byte-mode PLL parts: f = 48.00741 x (N + 3) / (M + 3) with N in register 13
// and M in register 14 (bit 7: programmed mode).
class CypressByteModeClockGenIo : public CypressClockGenIo {
 public:
  unsigned GetCpuDivider() override;
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  unsigned GetPllN() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;
  void SetFsb(double mhz) override;
  double GetFsb() override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;
  double GetHighestFsb() override;

  static constexpr unsigned kMaxPllN = 0xFF;

  // What tells the four parts apart, as data.
  struct Traits {
    const char* model;
    std::uint8_t idRegister;
    std::int32_t id;
    clockgen::PlatformGate gate;
    unsigned cpuDivider;
    const clockgen::BandTable* agpDividers;
    const clockgen::BandTable* pciDividers;
    std::uint8_t watchdogRegister;
    std::uint8_t selectRegister;  // select index in bits 3-7
    const clockgen::FrequencyTable* table;
  };

 protected:
  explicit CypressByteModeClockGenIo(ClockGenBus bus, const Traits& traits);
  // M chosen for a target: 45 above 129 MHz, else 93 for finer steps.
  virtual unsigned ChooseM(double mhz) const;
  virtual void AddToPllWrite(RegisterImage& /*image*/) const {}
  virtual std::int32_t WatchdogOff() const { return 0x04; }
  virtual bool LongTimeClearsHighBits() const { return false; }

  const Traits& traits_;
};

class CYPW312Io : public CypressByteModeClockGenIo {
 public:
  explicit CYPW312Io(ClockGenBus bus = OpenClockGenBus());
};

class CYPCY28323Io : public CypressByteModeClockGenIo {
 public:
  explicit CYPCY28323Io(ClockGenBus bus = OpenClockGenBus());
};

class CYPCY28325Io : public CypressByteModeClockGenIo {
 public:
  explicit CYPCY28325Io(ClockGenBus bus = OpenClockGenBus());
};

class CYPCY28349Io : public CypressByteModeClockGenIo {
 public:
  explicit CYPCY28349Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetAgpDivider() override { return 6; }
  unsigned GetPciDivider() override { return 12; }
  double GetDefaultFsb() override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;

 protected:
  unsigned ChooseM(double mhz) const override;
  void AddToPllWrite(RegisterImage& image) const override;
  std::int32_t WatchdogOff() const override { return 0x00; }
  bool LongTimeClearsHighBits() const override { return true; }
};

// f = N x K / M, K the post-divider scale of the bus class the part was strapped
// for; N is nine bits split over register 12 and bit 7 of register 13.
class CYPCY28405Io : public CypressClockGenIo {
 public:
  explicit CYPCY28405Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetCpuDivider() override { return 4; }
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  unsigned GetPllN() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;
  void SetFsb(double mhz) override;
  double GetFsb() override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;
  double GetHighestFsb() override;

  static constexpr unsigned kMaxPllN = 0x1FF;
};

// f = 96.016 x N / M with N in register 7 and M in bits 1-6 of register 9.
class CYPCY28341Io : public CypressClockGenIo {
 public:
  explicit CYPCY28341Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetCpuDivider() override { return 2; }
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  unsigned GetPllN() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;
  void SetFsb(double mhz) override;
  double GetFsb() override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;
  double GetHighestFsb() override;

  static constexpr unsigned kMaxPllN = 0x7F;

 private:
  double TableFsb();
};

}  // namespace rq::devices
