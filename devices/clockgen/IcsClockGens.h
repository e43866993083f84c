#pragma once
// The seven ICS parts. They are reached by SMBus block transfers whose command is
// the first register, share the PLL arithmetic (f = 14.31818 x (N + 8) / D / (M + 2)
// with a 9-bit N), and differ in where N, M and the dividers sit, how they are
// recognised, how the watchdog is driven and where the nominal bus clock comes from.
#include <cstdint>

#include "devices/clockgen/ClockGenSupport.h"
#include "devices/clockgen/I2cClockGenIo.h"

namespace rq::devices {

class IcsClockGenIo : public I2cClockGenIo {
 public:
  unsigned GetCpuDivider() override;
  unsigned GetPllM() override;
  unsigned GetPllN() override;
  double GetFsb() override;
  void SetFsb(double mhz) override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;
  double GetMemRefClock() override { return 0.0; }
  double GetHighestFsb() override;

  static constexpr unsigned kMaxPllN = 0x1FF;  // nine bits

 protected:
  IcsClockGenIo(ClockGenBus bus, const char* model, const char* description)
      : I2cClockGenIo(std::move(bus), model, description) {}

  // Writes the feedback count; the layout differs from part to part.
  virtual void WritePllN(unsigned n) = 0;

  // One block read or write inside a sequence the caller holds.
  unsigned Read(RegisterImage& image, std::uint8_t start, unsigned count);
  void Write(const RegisterImage& image, std::uint8_t start, unsigned count);
  // A whole sequence: lock, one block read, unlock.
  RegisterImage ReadSequence(std::uint8_t start, unsigned count);

  // Reads [start, start + count) and asks `matches` whether this is the part.
  template <typename Match>
  bool Identify(std::uint8_t start, unsigned count, Match matches) {
    if (Bus() == nullptr) return false;
    return matches(ReadSequence(start, count));
  }
  // Register 8 holds the byte count the part reports on block reads; 23 makes
  // every register up to the dividers readable.
  void OpenFullBlock();

  // Shared layouts.
  unsigned PllMFromBlock(unsigned count);  // r11 & 0x7F out of a block read from 0
  // The parts that read M out of a block from register 0 read the dividers after
  // it with the same block for the cost of five more bytes: registers 0 to 17.
  void PrefetchThroughDividers();
  void WritePllNAt11(unsigned n);                        // read 11-12, write 11-12
  void WritePllNAt10(unsigned n);                        // read 10-12, r10 |= 0x80, write 10-12
  static void PlaceN(RegisterImage& image, unsigned n);  // r11 bit 7 and r12
  unsigned AgpDividerLowNibble();                        // Table A[r16 & 0x0F]
  unsigned AgpDividerHighNibble();                       // Table A[r16 >> 4]
  unsigned PciDividerFromTableB();                       // Table B[r17 & 0x0F]
  void SetWatchdogTimeIn290Ms(int seconds);              // r9
  void EnableWatchdogBits(std::uint8_t mask, bool on);   // r10
  // Index = (r4 >> 4), + 16 when bit 2 of r1 is set (5-byte read from 0).
  double DefaultFsbFromSelectNibble(const clockgen::FrequencyTable& table);
  // Watchdog at I/O ports 0x104A (seconds) and 0x104B (enable).
  void SetWatchdogTimeByPort(int seconds);
  void EnableWatchdogByPort(bool on);

 private:
  static void WritePortOnBus(std::uint16_t port, std::uint8_t value);
};

class ICS950218Io : public IcsClockGenIo {
 public:
  explicit ICS950218Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;

 protected:
  void WritePllN(unsigned n) override;
};

class ICS950905Io : public IcsClockGenIo {
 public:
  explicit ICS950905Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;

 protected:
  void WritePllN(unsigned n) override;
  void PrefetchClockRegisters() override { PrefetchThroughDividers(); }
};

class ICS950910Io : public IcsClockGenIo {
 public:
  explicit ICS950910Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;

 protected:
  void WritePllN(unsigned n) override;
  void PrefetchClockRegisters() override { PrefetchThroughDividers(); }
};

class ICS94228Io : public IcsClockGenIo {
 public:
  explicit ICS94228Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetCpuDivider() override;
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  unsigned GetPllN() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  // No frequency-select register: the default is the bus class of the running clock.
  double GetDefaultFsb() override;
  bool ReportsPowerOnFsb() const override { return false; }

 protected:
  void WritePllN(unsigned n) override;

 private:
  void WriteWatchdogRegister(std::uint8_t value);
};

class ICS9428Io : public IcsClockGenIo {
 public:
  explicit ICS9428Io(ClockGenBus bus = OpenClockGenBus());
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  unsigned GetPllM() override;
  bool Detect() override;
  void SetWatchdogTime(int seconds) override;
  void EnableWatchdog(bool on) override;
  double GetDefaultFsb() override;

 protected:
  void WritePllN(unsigned n) override;
  void PrefetchClockRegisters() override { PrefetchThroughDividers(); }
};

// The two SiS-board parts: dividers from the FSB band, AGP from twice the FSB,
// watchdog behind I/O ports.
class IcsSisBoardClockGenIo : public IcsClockGenIo {
 public:
  unsigned GetAgpDivider() override;
  unsigned GetPciDivider() override;
  double GetAgpClock(double fsb) override;
  double GetPciClock(double fsb) override;
  void SetWatchdogTime(int seconds) override { SetWatchdogTimeByPort(seconds); }
  void EnableWatchdog(bool on) override { EnableWatchdogByPort(on); }

 protected:
  using IcsClockGenIo::IcsClockGenIo;
};

class ICS952005Io : public IcsSisBoardClockGenIo {
 public:
  explicit ICS952005Io(ClockGenBus bus = OpenClockGenBus());
  bool Detect() override;
  double GetDefaultFsb() override;

 protected:
  void WritePllN(unsigned n) override;
};

class ICS952001Io : public IcsSisBoardClockGenIo {
 public:
  explicit ICS952001Io(ClockGenBus bus = OpenClockGenBus());
  bool Detect() override;
  // No frequency-select register: the default is the bus class of the running clock.
  double GetDefaultFsb() override;
  bool ReportsPowerOnFsb() const override { return false; }
  double GetMemRefClock() override;

 protected:
  void WritePllN(unsigned n) override;
};

}  // namespace rq::devices
