#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Backend.h"

namespace rq::driver {

// Byte-wide processor port access.
class PortIo {
 public:
  virtual ~PortIo() = default;
  // Grants this process the ports [first, first + count); false with errno set
  // (ENOSYS where the kernel offers no port access at all).
  virtual bool Enable(std::uint16_t first, std::uint32_t count) = 0;
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

// Serves requests from this machine's hardware, for users with a real board of
// that era, narrowly as a kernel driver would: reads and writes reach only the
// register blocks of the supported chips, and a block named by a PCI base register
// counts only when the device there is one the program supports (vendor and device
// ID); the Super I/O pair passes only the identification sequence (SuperIoGate);
// the PCI configuration ports 0xCF8-0xCFF are never reached (configuration space
// is read through sysfs). Physical memory only inside the BIOS area
// 0xF0000-0xFFFFF, through /dev/mem. Callers serialise the calls (the Dispatcher's
// lock): the gate is one state for the one chip.
class RealHardwareBackend final : public Backend {
 public:
  struct Environment {
    std::unique_ptr<PortIo> ports;
    std::string sysfsRoot = "/sys";
    std::string memoryDevice = "/dev/mem";
    bool root = false;
  };
  static constexpr std::uint32_t kMemoryFirst = 0xF0000;
  static constexpr std::uint32_t kMemoryEnd = 0x100000;

  // This machine, as the daemon runs it. Throws std::runtime_error with a clear
  // message when not root or when port access is unavailable.
  static std::unique_ptr<RealHardwareBackend> Open();
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

  const std::vector<PortRange>& AllowedPorts() const { return allowed_; }
  // May the port be read at all (it lies in the allow-list)?
  bool Allowed(std::uint16_t port) const;

 private:
  explicit RealHardwareBackend(Environment environment) : environment_(std::move(environment)) {}
  void FindAllowedPorts();
  // The gate after writing `value` to `port`, or nothing when the write is refused.
  std::optional<SuperIoGate> GateAfterWrite(const SuperIoGate& gate, std::uint16_t port,
                                            std::uint8_t value) const;

  Environment environment_;
  std::vector<PortRange> allowed_;
  SuperIoGate superIo_;
};

}  // namespace rq::driver
