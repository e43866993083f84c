#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "driver/Backend.h"
#include "hw/DriverHandle.h"
#include "hw/SmbusHost.h"
#include "support/InProcessDriverHandle.h"

namespace rq::hw::testing {

// A machine whose PCI words and ports the test scripts: ports read back what was
// last written unless `onIn` answers them, and every access is counted.
class ScriptedHostBackend : public driver::Backend {
 public:
  using PciKey = std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t>;

  void SetPciWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                  std::uint16_t value) {
    pci[{bus, device, function, reg}] = value;
  }

  bool ReadPort(std::uint16_t port, std::uint8_t& value) override {
    ++portReads;
    value = onIn ? onIn(port, ports[port]) : ports[port];
    return true;
  }
  bool WritePort(std::uint16_t port, std::uint8_t value) override {
    outs.emplace_back(port, value);
    ports[port] = value;
    if (onOut) onOut(port, value);
    return true;
  }
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override {
    ++pciReads;
    const auto found = pci.find({bus, device, function, reg});
    value = found == pci.end() ? 0xFFFF : found->second;
    return true;
  }
  bool ReadPhysicalMemory(std::uint32_t, std::span<std::uint8_t>) override { return false; }

  bool Wrote(std::uint16_t port, std::uint8_t value) const {
    for (const auto& out : outs) {
      if (out == std::pair(port, value)) return true;
    }
    return false;
  }

  std::map<PciKey, std::uint16_t> pci;
  std::map<std::uint16_t, std::uint8_t> ports;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
  // (port, last written value) -> value read
  std::function<std::uint8_t(std::uint16_t, std::uint8_t)> onIn;
  std::function<void(std::uint16_t, std::uint8_t)> onOut;
  unsigned pciReads = 0;
  unsigned portReads = 0;
};

// Installs a driver (over `backend`, or a given handle), a virtual clock and a blank host state for
// the life of a test, and puts everything back afterwards.
class HostFixtureScope {
 public:
  explicit HostFixtureScope(driver::Backend& backend)
      : handle_(std::make_unique<driver::InProcessDriverHandle>(backend)),
        driver_(handle_.get()),
        clock_(virtualClock),
        savedHost_(ProcessSmbusHost()) {
    ProcessSmbusHost() = {};
  }
  // Over a driver handle of the caller's (a socket connection to a server).
  explicit HostFixtureScope(DriverHandle& handle)
      : driver_(&handle), clock_(virtualClock), savedHost_(ProcessSmbusHost()) {
    ProcessSmbusHost() = {};
  }
  ~HostFixtureScope() { ProcessSmbusHost() = savedHost_; }
  HostFixtureScope(const HostFixtureScope&) = delete;
  HostFixtureScope& operator=(const HostFixtureScope&) = delete;

  VirtualSmbusClock virtualClock;

 private:
  std::unique_ptr<driver::InProcessDriverHandle> handle_;
  ScopedDriverHandle driver_;
  ScopedSmbusClock clock_;
  SmbusHostState savedHost_;
};

}  // namespace rq::hw::testing

namespace rq::hw::testing {

// Passes every access on to another backend and notes the port writes.
class RecordingBackend : public driver::Backend {
 public:
  explicit RecordingBackend(driver::Backend& inner) : inner_(inner) {}
  bool ReadPort(std::uint16_t port, std::uint8_t& value) override { return inner_.ReadPort(port, value); }
  bool WritePort(std::uint16_t port, std::uint8_t value) override {
    outs.emplace_back(port, value);
    return inner_.WritePort(port, value);
  }
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override {
    ++pciReads;
    return inner_.ReadPciConfigWord(bus, device, function, reg, value);
  }
  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override {
    return inner_.ReadPhysicalMemory(address, out);
  }
  // The values written to one port, in order.
  std::vector<std::uint8_t> WritesTo(std::uint16_t port) const {
    std::vector<std::uint8_t> values;
    for (const auto& [written, value] : outs) {
      if (written == port) values.push_back(value);
    }
    return values;
  }

  std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
  unsigned pciReads = 0;

 private:
  driver::Backend& inner_;
};

}  // namespace rq::hw::testing
