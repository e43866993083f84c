#include "driver/RealHardwareBackend.h"

#include <fcntl.h>
#include <sys/io.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/DaemonLog.h"
#include "driver/RegisterGates.h"
#include "driver/UnixSocket.h"

namespace rq::driver {
namespace {

struct PciLocation {
  std::uint8_t bus, device, function;
};

// A supported device: vendor and device IDs at one PCI location, as the chip
// classes recognise it. No device list means any device of the vendor.
struct PciIdentity {
  PciLocation location;
  std::uint16_t vendor;
  std::span<const std::uint16_t> devices;
};

constexpr std::uint16_t kIntel = 0x8086;
constexpr std::uint16_t kVia = 0x1106;
constexpr std::uint16_t kNvidia = 0x10DE;
constexpr std::uint16_t kSis = 0x1039;

constexpr std::uint16_t kIntelSmbusHosts[] = {0x2443, 0x24C3, 0x24D3};  // ICH2, ICH4, ICH5
constexpr std::uint16_t kViaSmbusHosts[] = {0x3147, 0x3177, 0x3227};    // VT8233A, VT8235, VT8237
constexpr std::uint16_t kNvidiaSmbusHosts[] = {0x0064};                 // MCP
constexpr std::uint16_t kSisSouthBridges[] = {0x0008};                  // 962/963
constexpr std::uint16_t kIntelLpcBridges[] = {0x2440, 0x24C0, 0x24D0};  // ICH2, ICH4, ICH5
constexpr std::uint16_t kViaGpioBridges[] = {0x3177, 0x3227};           // VT8235, VT8237

constexpr PciIdentity kIntelSmbus{{0, 31, 3}, kIntel, kIntelSmbusHosts};
constexpr PciIdentity kViaSmbus{{0, 17, 0}, kVia, kViaSmbusHosts};
constexpr PciIdentity kNvidiaSmbus{{0, 1, 1}, kNvidia, kNvidiaSmbusHosts};
constexpr PciIdentity kSisSouthBridge{{0, 2, 0}, kSis, kSisSouthBridges};
constexpr PciIdentity kIntelLpc{{0, 31, 0}, kIntel, kIntelLpcBridges};
constexpr PciIdentity kViaGpio{{0, 17, 0}, kVia, kViaGpioBridges};
// The SiS GPIO base lies in the host bridge, whichever SiS north bridge it is.
constexpr PciIdentity kSisHostBridge{{0, 0, 0}, kSis, {}};

// A block of ports the program drives, granted only when `chip` is present. Its
// base is the I/O base register at `baseOffset` of `baseHolder` (bit 0 marks I/O
// space and is cleared), or `fixedBase` when the chip decodes a fixed block. Sizes
// cover every register the program uses there, rounded up to the block the chip
// decodes; `writes` names the registers the program writes.
struct PortBlock {
  const char* what;
  PciIdentity chip;
  PciIdentity baseHolder;
  std::uint8_t baseOffset;
  std::uint16_t fixedBase;
  std::uint16_t size;
  const WriteTable& writes;
  bool smbusHost = false;  // a kernel driver of it may offer its adapter instead
};

constexpr std::uint8_t kFixed = 0;
const PortBlock kPortBlocks[] = {
    {"Intel SMBus host", kIntelSmbus, kIntelSmbus, 0x20, 0, 32, kIchStyleSmbusWrites, true},
    {"VIA SMBus host", kViaSmbus, kViaSmbus, 0xD0, 0, 16, kIchStyleSmbusWrites, true},
    {"nVidia SMBus host", kNvidiaSmbus, kNvidiaSmbus, 0x54, 0, 64, kNvidiaSmbusWrites, true},
    {"SiS SMBus host", kSisSouthBridge, kSisSouthBridge, kFixed, 0x10C0, 32, kSisSmbusWrites, true},
    {"Intel GPIO", kIntelLpc, kIntelLpc, 0x58, 0, 64, kIntelGpioWrites},
    {"VIA power management and GPIO", kViaGpio, kViaGpio, 0x88, 0, 128, kViaGpioWrites},
    {"SiS GPIO", kSisSouthBridge, kSisHostBridge, 0x68, 0, 128, kSisGpioWrites},
};
constexpr std::uint16_t kIoSpaceBit = 0x0001;
constexpr std::uint16_t kAbsent = 0xFFFF;
constexpr std::uint8_t kVendorOffset = 0x00;
constexpr std::uint8_t kDeviceOffset = 0x02;

// Ports no base register may open, whatever the firmware put there: the legacy
// system block below 0x100 (interrupt and DMA controllers, timer, keyboard
// controller with its reset line, port 0x92, CMOS) and PCI configuration
// mechanism 1 (0xCF8 address, 0xCF9 reset control, 0xCFC-0xCFF data, which lands
// in whatever register the kernel last addressed).
constexpr std::uint16_t kFirstDevicePort = 0x0100;
constexpr std::uint16_t kPciConfigFirst = 0x0CF8;
constexpr std::uint16_t kPciConfigLast = 0x0CFF;

const PortRange kSuperIoRange = {SuperIoGate::kIndexPort, SuperIoGate::kDataPort, "Super I/O configuration"};

// The ITE configuration-mode key, written to the index port.
constexpr std::uint8_t kConfigKey[] = {0x87, 0x01, 0x55, 0x55};
constexpr std::uint8_t kChipIdHigh = 0x20;
constexpr std::uint8_t kChipIdLow = 0x21;
constexpr std::uint8_t kConfigControl = 0x02;
constexpr std::uint8_t kReturnToWaitForKey = 0x02;

bool OverlapsForbidden(std::uint32_t first, std::uint32_t last) {
  return first < kFirstDevicePort || (first <= kPciConfigLast && last >= kPciConfigFirst);
}

class X86PortIo final : public PortIo {
 public:
  bool Enable(std::uint16_t first, std::uint32_t count) override {
    if (::ioperm(first, count, 1) == 0) return true;
    if (errno != EINVAL) return false;
    return ::iopl(3) == 0;  // older kernels limit ioperm to the first 0x400 ports
  }
  // After iopl there is nothing to take back port by port; the gates still refuse.
  void Disable(std::uint16_t first, std::uint32_t count) override { ::ioperm(first, count, 0); }
  std::uint8_t In(std::uint16_t port) override { return ::inb(port); }
  void Out(std::uint16_t port, std::uint8_t value) override { ::outb(value, port); }
};

std::string PciConfigPath(const std::string& sysfsRoot, std::uint8_t bus, std::uint8_t device,
                          std::uint8_t function) {
  char name[32];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus, device, function);
  return sysfsRoot + "/bus/pci/devices/" + name + "/config";
}

std::uint32_t Count(const PortRange& range) { return range.last - range.first + 1u; }

void EnableOrThrow(PortIo& ports, const PortRange& range) {
  if (ports.Enable(range.first, Count(range))) return;
  const int error = errno;
  std::string message = "cannot reach the ports of the " + range.what + ": " + std::strerror(error);
  if (error == ENOSYS) {
    message +=
        " (this machine's kernel offers no port I/O, as on virtual machines and non-x86 "
        "systems; run the virtual board instead)";
  }
  throw std::runtime_error(message);
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace

std::unique_ptr<PortIo> MachinePortIo() { return std::make_unique<X86PortIo>(); }

std::unique_ptr<RealHardwareBackend> RealHardwareBackend::Open(bool allowOwnedPorts) {
  Environment environment;
  environment.allowOwnedPorts = allowOwnedPorts;
  environment.ports = MachinePortIo();
  environment.root = ::geteuid() == 0;
  return Open(std::move(environment));
}

std::unique_ptr<RealHardwareBackend> RealHardwareBackend::Open(Environment environment) {
  if (!environment.root) {
    throw std::runtime_error("the real-hardware backend needs root (port I/O, PCI configuration, /dev/mem)");
  }
  if (!environment.log) environment.log = LogLine;
  std::unique_ptr<RealHardwareBackend> backend(new RealHardwareBackend(std::move(environment)));
  backend->FindAllowedPorts();
  for (const PortRange& range : backend->allowed_) EnableOrThrow(*backend->environment_.ports, range);
  backend->GrantFixedBlocks();
  return backend;
}

bool SuperIoGate::InConfigurationMode() const { return keyBytesSeen_ == std::size(kConfigKey); }

std::optional<SuperIoGate> SuperIoGate::After(std::uint16_t port, std::uint8_t value) const {
  SuperIoGate next = *this;
  if (port == kIndexPort) {
    next.index_ = kNoRegister;
    if (!InConfigurationMode() && value == kConfigKey[keyBytesSeen_]) {
      ++next.keyBytesSeen_;
      return next;
    }
    // The key may start again at any point: a program that died half-way must be
    // able to identify the chip once more. In configuration mode these bytes only
    // select registers, which reading cannot harm.
    if (value == kConfigKey[0]) {
      next.keyBytesSeen_ = 1;
      return next;
    }
    if (InConfigurationMode() && (value == kChipIdHigh || value == kChipIdLow || value == kConfigControl)) {
      next.index_ = value;
      return next;
    }
    return std::nullopt;
  }
  if (port == kDataPort && InConfigurationMode() && index_ == kConfigControl &&
      value == kReturnToWaitForKey) {
    return SuperIoGate{};
  }
  return std::nullopt;
}

namespace {

bool Present(Backend& backend, const PciIdentity& identity) {
  std::uint16_t vendor = kAbsent, device = kAbsent;
  const PciLocation& at = identity.location;
  if (!backend.ReadPciConfigWord(at.bus, at.device, at.function, kVendorOffset, vendor) ||
      vendor != identity.vendor) {
    return false;
  }
  if (identity.devices.empty()) return true;
  if (!backend.ReadPciConfigWord(at.bus, at.device, at.function, kDeviceOffset, device)) return false;
  return std::find(identity.devices.begin(), identity.devices.end(), device) != identity.devices.end();
}

}  // namespace

void RealHardwareBackend::Grant(const PortRange& range, const WriteTable* writes) {
  allowed_.push_back(range);
  writes_.push_back(writes);
  gates_.selected.push_back(kNothingSelected);
}

void RealHardwareBackend::FindAllowedPorts() {
  if (!LeftToKernel(kSuperIoRange, std::nullopt)) Grant(kSuperIoRange, nullptr);
  for (const PortBlock& block : kPortBlocks) {
    if (!Present(*this, block.chip) || !Present(*this, block.baseHolder)) continue;
    std::uint16_t first = block.fixedBase;
    if (block.baseOffset != kFixed) {
      const PciLocation& at = block.baseHolder.location;
      std::uint16_t word = 0;
      if (!ReadPciConfigWord(at.bus, at.device, at.function, block.baseOffset, word) || word == kAbsent)
        continue;
      first = word & static_cast<std::uint16_t>(~kIoSpaceBit);
    }
    const std::uint32_t last = std::uint32_t{first} + block.size - 1u;
    // A base of 0 was never set up by the firmware; one that would open system
    // ports or run off the port space is not the block the program drives.
    if (last > 0xFFFF || OverlapsForbidden(first, last)) continue;
    const PciLocation& at = block.chip.location;
    if (LeftToKernel({first, static_cast<std::uint16_t>(last), block.what},
                     {{at.bus, at.device, at.function}})) {
      if (block.smbusHost) OpenSmbusAdapter(first, {at.bus, at.device, at.function});
      continue;
    }
    Grant({first, static_cast<std::uint16_t>(last), block.what}, &block.writes);
  }
}

// Each fixed block is reached once to ask its chip who it is; a block where no chip
// answers is given back.
void RealHardwareBackend::GrantFixedBlocks() {
  PortIo& ports = *environment_.ports;
  for (const FixedBlock& block : FixedBlocks()) {
    if (LeftToKernel(block.range, std::nullopt)) continue;  // not even probed
    EnableOrThrow(ports, block.range);
    if (const WriteTable* writes = block.identify(ports, block.range.first)) {
      Grant(block.range, writes);
    } else {
      ports.Disable(block.range.first, Count(block.range));
      environment_.log("no chip answers at the " + block.range.what + " ports " + Hex(block.range.first, 4) +
                       "-" + Hex(block.range.last, 4) + "; they are not granted");
    }
  }
}

void RealHardwareBackend::OpenSmbusAdapter(std::uint16_t base, KernelOwnership::PciFunction host) {
  if (smbusAdapter_) return;  // a board has one SMBus host
  if (!environment_.i2c) environment_.i2c = KernelI2cDevice();
  std::string why;
  smbusAdapter_ = KernelSmbusAdapter::Open(*environment_.i2c,
                                           {environment_.sysfsRoot, environment_.deviceFolder}, host, why);
  if (!smbusAdapter_) {
    environment_.log("the SMBus host at " + Hex(base, 4) +
                     " cannot be reached through the kernel either: " + why);
    return;
  }
  smbusAdapterBase_ = base;
  environment_.log("the SMBus host at " + Hex(base, 4) + " is reached through the kernel's adapter " +
                   smbusAdapter_->Path());
}

bool RealHardwareBackend::HasSmbusAdapter(std::uint16_t hostBase) {
  return smbusAdapter_ != nullptr && hostBase == smbusAdapterBase_;
}

bool RealHardwareBackend::SmbusTransaction(std::uint16_t hostBase, SmbusTransfer& transfer) {
  return HasSmbusAdapter(hostBase) && smbusAdapter_->Transaction(transfer);
}

bool RealHardwareBackend::LeftToKernel(const PortRange& range,
                                       std::optional<KernelOwnership::PciFunction> function) {
  const KernelOwnership kernel(environment_.sysfsRoot, environment_.ioportsPath);
  const auto owner = kernel.Owner(range.first, range.last, function);
  if (!owner) return false;
  kernelBlocks_.push_back({range, *owner, environment_.allowOwnedPorts});
  const std::string block = "the " + range.what + " at " + Hex(range.first, 4) + "-" + Hex(range.last, 4) +
                            " is driven by the kernel's " + *owner + " driver";
  if (environment_.allowOwnedPorts) {
    environment_.log(block + "; granted all the same (--allow-owned-ports): both may drive it at once");
    return false;
  }
  environment_.log(block +
                   "; not granted (unbind the driver, or start with --allow-owned-ports, which is unsafe)");
  return true;
}

std::optional<std::size_t> RealHardwareBackend::GrantOf(std::uint16_t port) const {
  for (std::size_t i = 0; i < allowed_.size(); ++i) {
    if (port >= allowed_[i].first && port <= allowed_[i].last) return i;
  }
  return std::nullopt;
}

bool RealHardwareBackend::Allowed(std::uint16_t port) const { return GrantOf(port).has_value(); }

// Behind an index/data pair the register is selected for the read, and the
// selection the gate knows of is restored: a write refused after this read must
// not leave the chip pointing at a register the gate does not expect.
std::uint8_t RealHardwareBackend::CurrentContent(std::size_t grant, int selected, std::uint16_t port) const {
  PortIo& ports = *environment_.ports;
  if (!writes_[grant]->indexedPair) return ports.In(port);
  const std::uint16_t indexPort = allowed_[grant].first;
  ports.Out(indexPort, static_cast<std::uint8_t>(selected));
  const std::uint8_t content = ports.In(port);
  if (const int before = gates_.selected[grant]; before != kNothingSelected)
    ports.Out(indexPort, static_cast<std::uint8_t>(before));
  return content;
}

std::optional<RealHardwareBackend::GateState> RealHardwareBackend::GateAfterWrite(const GateState& state,
                                                                                  std::uint16_t port,
                                                                                  std::uint8_t value,
                                                                                  std::string& why) const {
  const auto grant = GrantOf(port);
  if (!grant) {
    why = "the port belongs to no granted block";
    return std::nullopt;
  }
  GateState next = state;
  const WriteTable* table = writes_[*grant];
  if (table == nullptr) {
    const auto superIo = state.superIo.After(port, value);
    if (!superIo) {
      why = "only the monitor chip's identification passes the Super I/O pair";
      return std::nullopt;
    }
    next.superIo = *superIo;
    return next;
  }
  const std::uint16_t offset = port - allowed_[*grant].first;
  int& selected = next.selected[*grant];
  if (table->indexedPair && offset == 0) {
    selected = value;
    return next;
  }
  if (table->indexedPair && selected == kNothingSelected) {
    why = "no register is selected";
    return std::nullopt;
  }
  const auto reg = static_cast<std::uint8_t>(table->indexedPair ? selected : offset);
  const RegisterWrite* rule = FindRegister(*table, reg);
  if (rule == nullptr) {
    why = "the program never writes register " + Hex(reg, 2) + " of the " + allowed_[*grant].what;
    return std::nullopt;
  }
  const auto content = [&] { return CurrentContent(*grant, selected, port); };
  const auto slave = [&] {
    return environment_.ports->In(static_cast<std::uint16_t>(allowed_[*grant].first + table->addressOffset));
  };
  if (!PassesRule(*rule, value, content, slave, why)) return std::nullopt;
  return next;
}

bool RealHardwareBackend::Refuse(std::uint16_t port, std::uint8_t value, const std::string& why) const {
  environment_.log("refused writing " + Hex(value, 2) + " to port " + Hex(port, 4) + ": " + why);
  return false;
}

bool RealHardwareBackend::ReadPort(std::uint16_t port, std::uint8_t& value) {
  if (!Allowed(port)) return false;
  value = environment_.ports->In(port);
  return true;
}

bool RealHardwareBackend::WritePort(std::uint16_t port, std::uint8_t value) {
  std::string why;
  const auto gates = GateAfterWrite(gates_, port, value, why);
  if (!gates) return Refuse(port, value, why);
  environment_.ports->Out(port, value);
  gates_ = *gates;
  return true;
}

bool RealHardwareBackend::ReadIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                                      std::uint8_t& value) {
  std::string why;
  const auto gates = GateAfterWrite(gates_, indexPort, index, why);
  if (!gates) return Refuse(indexPort, index, why);
  if (!Allowed(dataPort)) return false;
  environment_.ports->Out(indexPort, index);
  gates_ = *gates;
  value = environment_.ports->In(dataPort);
  return true;
}

bool RealHardwareBackend::WriteIndexed(std::uint16_t indexPort, std::uint16_t dataPort, std::uint8_t index,
                                       std::uint8_t value) {
  std::string why;
  const auto afterIndex = GateAfterWrite(gates_, indexPort, index, why);
  if (!afterIndex) return Refuse(indexPort, index, why);
  const auto afterData = GateAfterWrite(*afterIndex, dataPort, value, why);
  if (!afterData) return Refuse(dataPort, value, why);
  environment_.ports->Out(indexPort, index);
  environment_.ports->Out(dataPort, value);
  gates_ = *afterData;
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
