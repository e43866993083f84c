#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "devices/northbridge/PciMchIo.h"

namespace rq::devices {

// A further identity test on a host-bridge byte: (byte & mask) must lie in
// [low, high]. Revisions and the capability bytes at 0xE7/0xE8 tell apart chipsets
// that share a device ID.
struct ConfigByteTest {
  std::uint8_t offset;
  std::uint8_t mask;
  std::uint8_t low;
  std::uint8_t high;
};

// What identifies one chipset and what the user is told about it.
struct MchIdentity {
  const char* model;
  const char* description;
  bool k7Platform;
  std::uint16_t vendor;
  std::array<std::uint16_t, 2> devices;
  std::size_t deviceCount;
  std::array<ConfigByteTest, 2> tests;
  std::size_t testCount;
};

// A north bridge recognised by its identity entry. Detect reads the vendor first
// and stops at the first test that fails, so a board answers as few reads as
// possible for a chipset it does not carry. Every memory clock is formed in
// extended precision and rounded once, to one decimal, at the end.
class IdentifiedMchIo : public PciMchIo {
 public:
  explicit IdentifiedMchIo(const MchIdentity& identity);
  bool Detect() override;
  double GetMemoryClock(double fsb) final;

 protected:
  virtual long double MemoryClock(long double fsb) = 0;

 private:
  const MchIdentity& identity_;
};

// ---- Intel 845 (DDR) ----

class Intel845MchIo : public IdentifiedMchIo {
 public:
  Intel845MchIo();

 protected:
  long double MemoryClock(long double fsb) override;
};

// Same ratio register as the 845, but the memory clock is whole MHz and a clock of
// 149 MHz or more is replaced by the 166 MHz setting's value.
class Intel845EMchIo : public IdentifiedMchIo {
 public:
  Intel845EMchIo();

 protected:
  long double MemoryClock(long double fsb) override;
};

// 845G, GL, GE, GV and PE: one memory ratio decoder, told apart only by identity.
class Intel845GFamilyMchIo : public IdentifiedMchIo {
 protected:
  using IdentifiedMchIo::IdentifiedMchIo;
  long double MemoryClock(long double fsb) override;
};

class Intel845GMchIo : public Intel845GFamilyMchIo {
 public:
  Intel845GMchIo();
};
class Intel845GLMchIo : public Intel845GFamilyMchIo {
 public:
  Intel845GLMchIo();
};
class Intel845GEMchIo : public Intel845GFamilyMchIo {
 public:
  Intel845GEMchIo();
};
class Intel845GVMchIo : public Intel845GFamilyMchIo {
 public:
  Intel845GVMchIo();
};
class Intel845PEMchIo : public Intel845GFamilyMchIo {
 public:
  Intel845PEMchIo();
};

// ---- Intel 865 / 875 ----

// The 865 family shares one decoder; the members differ only in the numerator of
// the setting whose denominator is 200 (bits 1:0 of the ratio word = 10), given
// by bits 11:10 through `numeratorsFor200`.
class Intel865FamilyMchIo : public IdentifiedMchIo {
 protected:
  Intel865FamilyMchIo(const MchIdentity& identity, const std::array<std::uint16_t, 4>& numeratorsFor200);
  long double MemoryClock(long double fsb) override;

 private:
  const std::array<std::uint16_t, 4>& numeratorsFor200_;
};

class Intel865SDGMchIo : public Intel865FamilyMchIo {
 public:
  Intel865SDGMchIo();
};
class Intel865SDPEMchIo : public Intel865FamilyMchIo {
 public:
  Intel865SDPEMchIo();
};
class Intel865SDPMchIo : public Intel865FamilyMchIo {
 public:
  Intel865SDPMchIo();
};
class Intel875PMchIo : public Intel865FamilyMchIo {
 public:
  Intel875PMchIo();
};

// ---- VIA ----

// A memory-to-FSB ratio N/D (1/1 where a setting leaves memory at the FSB).
struct MemoryRatio {
  std::uint16_t numerator;
  std::uint16_t denominator;
};

// VIA bridges whose ratio is looked up by i = B × 4 + A (A = bits 7:6 of 0x69,
// B = bits 7:6 of 0x54). Chipsets with a second column also consult bit 7 of 0x67.
class ViaRatioIndexIo : public IdentifiedMchIo {
 public:
  using RatioTable = std::array<MemoryRatio, 16>;

 protected:
  // `whenBitSet` null: the chipset has no such bit and always uses `table`.
  ViaRatioIndexIo(const MchIdentity& identity, const RatioTable& table, const RatioTable* whenBitSet);
  long double MemoryClock(long double fsb) override;

 private:
  const RatioTable& table_;
  const RatioTable* whenBitSet_;
};

class VIAKT600_333_400_266Io : public ViaRatioIndexIo {
 public:
  VIAKT600_333_400_266Io();
};
class VIAP4X400EIo : public ViaRatioIndexIo {
 public:
  VIAP4X400EIo();
};
class VIAKM400Io : public ViaRatioIndexIo {
 public:
  VIAKM400Io();
};

// VIA 266 generation: bit 6 of 0x69 selects 133/100, else the FSB itself.
class Via266MchIo : public IdentifiedMchIo {
 protected:
  using IdentifiedMchIo::IdentifiedMchIo;
  long double MemoryClock(long double fsb) override;
};

class VIAP4X266EIo : public Via266MchIo {
 public:
  VIAP4X266EIo();
};
class VIAKM266Io : public Via266MchIo {
 public:
  VIAKM266Io();
};
// The P4M266 first checks bit 7 of 0x54, which keeps memory at the FSB.
class VIAP4M266Io : public Via266MchIo {
 public:
  VIAP4M266Io();

 protected:
  long double MemoryClock(long double fsb) override;
};

// ---- nVidia ----

// The ratio sits in the word at 0x70 of bus 0, device 0, function 3: numerator in
// bits 7:4, denominator in bits 3:0. A field of 0 is no ratio at all (an
// unprogrammed register or a failed read): the memory clock is then the FSB.
class nVidiaC18Io : public IdentifiedMchIo {
 public:
  nVidiaC18Io();

 protected:
  long double MemoryClock(long double fsb) override;
};

// ---- SiS ----

// Memory always runs at the FSB.
class SisSynchronousIo : public IdentifiedMchIo {
 protected:
  using IdentifiedMchIo::IdentifiedMchIo;
  long double MemoryClock(long double fsb) override;
};

class Sis650Io : public SisSynchronousIo {
 public:
  Sis650Io();
};
class Sis740Io : public SisSynchronousIo {
 public:
  Sis740Io();
};

// Memory follows the clock generator's memory reference clock, scaled by how far
// the FSB is from the generator's nominal FSB. Without a clock generator (or one
// that reports no nominal FSB) there is nothing to scale by: memory is at the FSB.
class Sis651Io : public IdentifiedMchIo {
 public:
  Sis651Io();

 protected:
  long double MemoryClock(long double fsb) override;
};

class Sis648Io : public IdentifiedMchIo {
 public:
  Sis648Io();

 protected:
  long double MemoryClock(long double fsb) override;
};

}  // namespace rq::devices
