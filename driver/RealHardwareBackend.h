#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Backend.h"
#include "driver/KernelOwnership.h"
#include "driver/KernelSmbusAdapter.h"

namespace rq::driver {

// Byte-wide processor port access.
class PortIo {
 public:
  virtual ~PortIo() = default;
  // Grants this process the ports [first, first + count); false with errno set
  // (ENOSYS where the kernel offers no port access at all).
  virtual bool Enable(std::uint16_t first, std::uint32_t count) = 0;
  // Takes back what Enable granted (a fixed block whose chip did not answer).
  virtual void Disable(std::uint16_t first, std::uint32_t count) = 0;
  virtual std::uint8_t In(std::uint16_t port) = 0;
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
};

// The processor's own in/out instructions, after ioperm (iopl for what ioperm refuses).
std::unique_ptr<PortIo> MachinePortIo();

struct PortRange {
  std::uint16_t first;
  std::uint16_t last;
  std::string what;
};

// What the Super I/O configuration pair (0x2E index, 0x2F data) may be sent: the
// monitor chips' identification and nothing else. That is the four-byte key that
// opens configuration mode, the index of the two chip ID registers and of the
// configuration control register, and the one data write that leaves
// configuration mode (0x02 to the control register: bit 1 returns to "wait for
// key"; bit 0 would reset every logical device and is never let through). Reads
// of either port are free: they only return the register the index names.
class SuperIoGate {
 public:
  static constexpr std::uint16_t kIndexPort = 0x002E;
  static constexpr std::uint16_t kDataPort = 0x002F;

  // The gate after `value` is written to `port`; nothing when the write is refused.
  std::optional<SuperIoGate> After(std::uint16_t port, std::uint8_t value) const;
  bool InConfigurationMode() const;

 private:
  std::uint8_t keyBytesSeen_ = 0;
  int index_ = kNoRegister;  // the register selected in configuration mode
  static constexpr int kNoRegister = -1;
};

struct WriteTable;

// Serves requests from this machine's hardware, for users with a real board of
// that era, narrowly as a kernel driver would: reads and writes reach only the
// register blocks of the supported chips, and a block named by a PCI base register
// counts only when the device there is one the program supports (vendor and device
// ID); a fixed block counts only when its chip answers its identification at
// start. Writes reach only the registers the program writes there, with the values
// it writes where those matter (RegisterGates.cpp): an SMBus host takes its slave
// address only for the clock generator and the overclock controller, never a
// memory module's SPD EEPROM. The Super I/O pair passes only the identification
// sequence (SuperIoGate); the PCI configuration ports 0xCF8-0xCFF are never reached
// (configuration space is read through sysfs). Physical memory only inside the
// BIOS area 0xF0000-0xFFFFF, through /dev/mem. Every refused write is logged and
// touches no port. Callers serialise the calls (the Dispatcher's lock): the gates
// are one state for the one machine.
class RealHardwareBackend final : public Backend {
 public:
  struct Environment {
    std::unique_ptr<PortIo> ports;
    std::string sysfsRoot = "/sys";
    std::string memoryDevice = "/dev/mem";
    bool root = false;
    // Where refusals are reported; the daemon's log when empty.
    std::function<void(const std::string&)> log;
    std::string ioportsPath = "/proc/ioports";
    // Grant blocks a kernel driver drives too (two masters on one chip: unsafe).
    bool allowOwnedPorts = false;
    // /dev/i2c-N, for an SMBus host a kernel driver owns; the kernel's when null.
    std::unique_ptr<I2cDevice> i2c = nullptr;
    std::string deviceFolder = "/dev";
  };
  static constexpr std::uint32_t kMemoryFirst = 0xF0000;
  static constexpr std::uint32_t kMemoryEnd = 0x100000;

  // This machine, as the daemon runs it. Throws std::runtime_error with a clear
  // message when not root or when port access is unavailable.
  static std::unique_ptr<RealHardwareBackend> Open(bool allowOwnedPorts);
  // The same on a given environment (tests pass a fake port space and sysfs).
  static std::unique_ptr<RealHardwareBackend> Open(Environment environment);

  bool ReadPort(std::uint16_t port, std::uint8_t& value) override;
  bool WritePort(std::uint16_t port, std::uint8_t value) override;
  bool ReadIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                   std::uint8_t& value) override;
  bool WriteIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                    std::uint8_t value) override;
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override;
  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override;
  // The kernel's adapter of an SMBus host left to its driver, when there is one.
  bool HasSmbusAdapter(std::uint16_t hostBase) override;
  bool SmbusTransaction(std::uint16_t hostBase, SmbusTransfer& transfer) override;
  // The adapter's /dev path when it serves the host at `base`, else empty.
  std::string SmbusAdapterPath(std::uint16_t base) const {
    return smbusAdapter_ != nullptr && base == smbusAdapterBase_ ? smbusAdapter_->Path() : std::string();
  }

  const std::vector<PortRange>& AllowedPorts() const { return allowed_; }
  // Every block a present chip would have been granted and a kernel driver drives.
  struct KernelBlock {
    PortRange range;
    std::string driver;
    bool grantedAnyway;  // --allow-owned-ports
  };
  const std::vector<KernelBlock>& KernelBlocks() const { return kernelBlocks_; }
  // May the port be read at all (it lies in the allow-list)?
  bool Allowed(std::uint16_t port) const;

 private:
  // What the gates remember between writes: where the Super I/O sequence stands
  // and which register each index/data pair has selected.
  struct GateState {
    SuperIoGate superIo;
    std::vector<int> selected;  // per entry of allowed_; kNothingSelected when none
  };
  static constexpr int kNothingSelected = -1;

  explicit RealHardwareBackend(Environment environment) : environment_(std::move(environment)) {}
  void FindAllowedPorts();
  void GrantFixedBlocks();
  void Grant(const PortRange& range, const WriteTable* writes);
  // Whether a kernel driver owns the block and it stays the driver's (logged either way).
  bool LeftToKernel(const PortRange& range, std::optional<KernelOwnership::PciFunction> function);
  void OpenSmbusAdapter(std::uint16_t base, KernelOwnership::PciFunction host);
  std::optional<std::size_t> GrantOf(std::uint16_t port) const;
  // The gates after writing `value` to `port`, or nothing (with the reason) when
  // the write is refused.
  std::optional<GateState> GateAfterWrite(const GateState& state, std::uint16_t port, std::uint8_t value,
                                          std::string& why) const;
  // What the register a write aims at holds now, for rules that compare with it.
  std::uint8_t CurrentContent(std::size_t grant, int selected, std::uint16_t port) const;
  bool Refuse(std::uint16_t port, std::uint8_t value, const std::string& why) const;

  Environment environment_;
  std::vector<PortRange> allowed_;
  std::vector<KernelBlock> kernelBlocks_;
  std::vector<const WriteTable*> writes_;  // per entry of allowed_; null: the Super I/O gate decides
  GateState gates_;
  std::unique_ptr<KernelSmbusAdapter> smbusAdapter_;
  std::uint16_t smbusAdapterBase_ = 0;
};

}  // namespace rq::driver
