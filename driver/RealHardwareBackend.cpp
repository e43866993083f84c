#include "driver/RealHardwareBackend.h"

#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/UnixSocket.h"

namespace rq::driver {
namespace {

struct PciLocation {
  std::uint8_t bus, device, function;
};

// A block of ports whose base sits in a PCI configuration word (bit 0 marks I/O
// space and is cleared). Sizes cover every register the program uses there,
// rounded up to the block the chip decodes.
struct BaseRegister {
  PciLocation location;
  std::uint8_t offset;
  std::uint16_t size;
  const char* what;
};

constexpr BaseRegister kBaseRegisters[] = {
    {{0, 31, 3}, 0x20, 32, "Intel SMBus host"},
    {{0, 17, 0}, 0xD0, 16, "VIA SMBus host"},
    {{0, 1, 1}, 0x54, 64, "nVidia SMBus host"},
    {{0, 31, 0}, 0x58, 64, "Intel GPIO"},
    {{0, 17, 0}, 0x88, 128, "VIA power management and GPIO"},
    {{0, 0, 0}, 0x68, 128, "SiS GPIO"},
};
constexpr std::uint16_t kIoSpaceBit = 0x0001;
// Byte port 0xCF9 inside the PCI configuration range is the chipset's reset
// control register: a stray write (0x06) resets the machine at once. Nothing the
// program does writes it, so it is read-only here.
constexpr std::uint16_t kResetControlPort = 0x0CF9;
constexpr std::uint16_t kAbsent = 0xFFFF;

const PortRange kFixedRanges[] = {
    {0x10C0, 0x10DF, "SiS SMBus host"},          {0x0295, 0x0296, "hardware monitor index/data"},
    {0x002E, 0x002F, "Super I/O configuration"}, {0x104A, 0x104B, "overclock controller index/data"},
    {0x0CF8, 0x0CFF, "PCI configuration"},
};

class X86PortIo final : public PortIo {
 public:
  bool Enable(std::uint16_t first, std::uint32_t count) override {
    if (::ioperm(first, count, 1) == 0) return true;
    if (errno != EINVAL) return false;
    return ::iopl(3) == 0;  // older kernels limit ioperm to the first 0x400 ports
  }
  std::uint8_t In(std::uint16_t port) override { return ::inb(port); }
  void Out(std::uint16_t port, std::uint8_t value) override { ::outb(value, port); }
};

std::string PciConfigPath(const std::string& sysfsRoot, std::uint8_t bus, std::uint8_t device,
                          std::uint8_t function) {
  char name[32];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus, device, function);
  return sysfsRoot + "/bus/pci/devices/" + name + "/config";
}

}  // namespace

std::unique_ptr<PortIo> MachinePortIo() { return std::make_unique<X86PortIo>(); }

std::unique_ptr<RealHardwareBackend> RealHardwareBackend::Open() {
  Environment environment;
  environment.ports = MachinePortIo();
  environment.root = ::geteuid() == 0;
  return Open(std::move(environment));
}

std::unique_ptr<RealHardwareBackend> RealHardwareBackend::Open(Environment environment) {
  if (!environment.root) {
    throw std::runtime_error("the real-hardware backend needs root (port I/O, PCI configuration, /dev/mem)");
  }
  std::unique_ptr<RealHardwareBackend> backend(new RealHardwareBackend(std::move(environment)));
  backend->FindAllowedPorts();
  for (const PortRange& range : backend->allowed_) {
    if (!backend->environment_.ports->Enable(range.first, range.last - range.first + 1u)) {
      const int error = errno;
      std::string message = "cannot reach the ports of the " + range.what + ": " + std::strerror(error);
      if (error == ENOSYS) {
        message +=
            " (this machine's kernel offers no port I/O, as on virtual machines and non-x86 "
            "systems; run the virtual board instead)";
      }
      throw std::runtime_error(message);
    }
  }
  return backend;
}

void RealHardwareBackend::FindAllowedPorts() {
  allowed_.assign(std::begin(kFixedRanges), std::end(kFixedRanges));
  for (const BaseRegister& base : kBaseRegisters) {
    std::uint16_t vendor = kAbsent, word = 0;
    if (!ReadPciConfigWord(base.location.bus, base.location.device, base.location.function, 0x00, vendor) ||
        vendor == kAbsent) {
      continue;
    }
    if (!ReadPciConfigWord(base.location.bus, base.location.device, base.location.function, base.offset,
                           word)) {
      continue;
    }
    const std::uint16_t first = word & static_cast<std::uint16_t>(~kIoSpaceBit);
    if (first == 0 || word == kAbsent) continue;  // not set up by the BIOS
    const std::uint32_t last = std::min<std::uint32_t>(first + base.size - 1u, 0xFFFF);
    allowed_.push_back({first, static_cast<std::uint16_t>(last), base.what});
  }
}

bool RealHardwareBackend::Allowed(std::uint16_t port) const {
  for (const PortRange& range : allowed_) {
    if (port >= range.first && port <= range.last) return true;
  }
  return false;
}

bool RealHardwareBackend::ReadPort(std::uint16_t port, std::uint8_t& value) {
  if (!Allowed(port)) return false;
  value = environment_.ports->In(port);
  return true;
}

bool RealHardwareBackend::WritePort(std::uint16_t port, std::uint8_t value) {
  if (!Allowed(port) || port == kResetControlPort) return false;
  environment_.ports->Out(port, value);
  return true;
}

bool RealHardwareBackend::ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                            std::uint8_t reg, std::uint16_t& value) {
  Fd fd(::open(PciConfigPath(environment_.sysfsRoot, bus, device, function).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    // No such function: the bus answers all ones, as the port mechanism would.
    if (errno == ENOENT) {
      value = kAbsent;
      return true;
    }
    return false;
  }
  std::uint8_t bytes[2];
  if (::pread(fd.Get(), bytes, 2, reg) != 2) return false;
  value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  return true;
}

bool RealHardwareBackend::ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) {
  if (address < kMemoryFirst || address > kMemoryEnd || out.size() > kMemoryEnd - address) return false;
  if (out.empty()) return true;
  Fd fd(::open(environment_.memoryDevice.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        ::pread(fd.Get(), out.data() + done, out.size() - done, static_cast<off_t>(address + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace rq::driver
