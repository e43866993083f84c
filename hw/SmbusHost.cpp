#include "hw/SmbusHost.h"

#include <array>

#include "hw/DriverHandle.h"
#include "hw/IntelIchSmbus.h"
#include "hw/KernelSmbus.h"
#include "hw/NvidiaSmbus.h"
#include "hw/SisSmbus.h"
#include "hw/ViaSmbus.h"
#include "platform/Clock.h"
#include "platform/Trace.h"

namespace rq::hw {
namespace {

class RealSmbusClock final : public SmbusClock {
 public:
  void DelayMs(std::uint32_t ms) override { IOInterface().DelayMs(ms); }
  void SleepMs(std::uint32_t ms) override { platform::Sleep(ms); }
  std::uint32_t NowMs() override { return platform::GetTickCount(); }
};

SmbusClock*& InstalledClock() {
  static RealSmbusClock real;
  static SmbusClock* current = &real;
  return current;
}

constexpr std::uint8_t kPciVendorId = 0x00;
constexpr std::uint8_t kPciDeviceId = 0x02;
// The base register's bit 0 marks an I/O-space address, not part of the base.
constexpr std::uint16_t kIoBaseMask = 0xFFFE;
constexpr std::uint8_t kNoBaseRegister = 0;

struct HostDevice {
  std::uint16_t deviceId;
  std::int16_t kind;
};

// The south-bridge functions that carry an SMBus host, in probe order.
struct HostLocation {
  std::uint8_t bus, device, function;
  std::uint16_t vendorId;
  std::array<HostDevice, 3> devices;  // unused slots have kind kHostNone
  std::uint8_t baseRegister;          // kNoBaseRegister: the base is fixed
  std::uint16_t fixedBase;
};

constexpr std::array<HostLocation, 4> kHostLocations = {{
    {0,
     31,
     3,
     0x8086,
     {{{0x2443, kHostIntelICH2}, {0x24C3, kHostIntelICH4}, {0x24D3, kHostIntelICH5}}},
     0x20,
     0},
    {0, 17, 0, 0x1106, {{{0x3147, kHostVIA8233A}, {0x3177, kHostVIA8235}, {0x3227, kHostVIA8237}}}, 0xD0, 0},
    {0, 1, 1, 0x10DE, {{{0x0064, kHostNVidiaMCP}, {0, kHostNone}, {0, kHostNone}}}, 0x54, 0},
    {0, 2, 0, 0x1039, {{{0x0008, kHostSis962}, {0, kHostNone}, {0, kHostNone}}}, kNoBaseRegister, 0x10C0},
}};

}  // namespace

SmbusClock& CurrentSmbusClock() { return *InstalledClock(); }

ScopedSmbusClock::ScopedSmbusClock(SmbusClock& clock) : saved_(InstalledClock()) {
  InstalledClock() = &clock;
}

ScopedSmbusClock::~ScopedSmbusClock() { InstalledClock() = saved_; }

std::uint8_t SmbusHostIo::In(std::uint8_t offset) const {
  std::uint32_t value = 0xFF;
  if (!ReadPortByte(static_cast<std::uint16_t>(ProcessSmbusHost().base + offset), value)) return 0xFF;
  return static_cast<std::uint8_t>(value);
}

void SmbusHostIo::Out(std::uint8_t offset, std::uint8_t value) const {
  WritePortByte(static_cast<std::uint16_t>(ProcessSmbusHost().base + offset), value);
}

bool SmbusHostIo::HostError(std::uint8_t errorBits) const {
  if (errorBits == 0) return false;
  platform::Trace("SMBus host error 0x%02X: host at port 0x%04X, device 0x%02X, register 0x%02X", errorBits,
                  ProcessSmbusHost().base, DeviceAddress(), register_);
  return true;
}

void SmbusHostIo::TraceTimeOut() const {
  platform::Trace("SMBus time-out after %u ms: host at port 0x%04X, device 0x%02X, register 0x%02X",
                  kSmbusTimeoutMs, ProcessSmbusHost().base, DeviceAddress(), register_);
}

SmbusHostState& ProcessSmbusHost() {
  static SmbusHostState state;
  return state;
}

bool DetectSmbusHost() {
  SmbusHostState& host = ProcessSmbusHost();
  if (host.kind != kHostNone) return true;
  const DriverState& driver = ProcessDriverState();
  if (driver.driverMode && driver.deviceHandle == nullptr) return false;

  const IOInterface io;
  for (const HostLocation& location : kHostLocations) {
    if (io.ReadPciConfigWord(location.bus, location.device, location.function, kPciVendorId) !=
        location.vendorId) {
      continue;
    }
    const std::uint16_t deviceId =
        io.ReadPciConfigWord(location.bus, location.device, location.function, kPciDeviceId);
    for (const HostDevice& candidate : location.devices) {
      if (candidate.kind == kHostNone || candidate.deviceId != deviceId) continue;
      const std::uint16_t base =
          location.baseRegister == kNoBaseRegister
              ? location.fixedBase
              : io.ReadPciConfigWord(location.bus, location.device, location.function, location.baseRegister);
      // A base the firmware never assigned would put the host's registers over
      // the DMA controller at port 0; such a host is not usable.
      if ((base & kIoBaseMask) == 0) return false;
      host.base = base & kIoBaseMask;
      host.kind = candidate.kind;
      host.kernelAdapter = KernelAdapterServes(host.base);
      return true;
    }
    // The vendor's function is there but is not a host we know: the probe ends.
    return false;
  }
  return false;
}

std::unique_ptr<I2CIo> CreateI2CIo(std::int16_t kind, std::uint8_t deviceAddress) {
  switch (kind) {
    case kHostIntelICH2:
      return std::make_unique<IntelICH2Io>(deviceAddress);
    case kHostIntelICH4:
      return std::make_unique<IntelICH4Io>(deviceAddress);
    case kHostIntelICH5:
      return std::make_unique<IntelICH5Io>(deviceAddress);
    case kHostVIA8233A:
      return std::make_unique<VIA8233AI2CIo>(deviceAddress);
    case kHostVIA8235:
      return std::make_unique<VIA8235I2CIo>(deviceAddress);
    case kHostVIA8237:
      return std::make_unique<VIA8237I2CIo>(deviceAddress);
    case kHostSis962:
      return std::make_unique<Sis962Io>(deviceAddress);
    case kHostNVidiaMCP:
      return std::make_unique<nVidiaMCPIo>(deviceAddress);
    default:
      return nullptr;
  }
}

std::unique_ptr<I2CIo> CreateI2CIo(const SmbusHostState& host, std::uint8_t deviceAddress) {
  if (host.kind != kHostNone && host.kernelAdapter) return std::make_unique<KernelSmbusIo>(deviceAddress);
  return CreateI2CIo(host.kind, deviceAddress);
}

}  // namespace rq::hw
