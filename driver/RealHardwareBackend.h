#pragma once
#include <cstdint>
#include <memory>
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

// Serves requests from this machine's hardware, for users with a real board of
// that era. It touches only the ports the program needs: the SMBus host and the
// GPIO block found through their PCI base registers, the monitor chip, the Super
// I/O configuration pair, the overclock controller pair and the PCI configuration
// ports. PCI configuration is read through sysfs, physical memory through /dev/mem
// and only inside the BIOS area 0xF0000-0xFFFFF.
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
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override;
  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override;

  const std::vector<PortRange>& AllowedPorts() const { return allowed_; }
  bool Allowed(std::uint16_t port) const;

 private:
  explicit RealHardwareBackend(Environment environment) : environment_(std::move(environment)) {}
  void FindAllowedPorts();

  Environment environment_;
  std::vector<PortRange> allowed_;
};

}  // namespace rq::driver
