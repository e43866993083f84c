#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "driver/Backend.h"

namespace rq::driver::testing {

// A small machine for request tests: 64 KiB of byte ports that read back what
// was written, index/data pairs at 0x2E/0x2F and 0x295/0x296 whose registers
// read as (index ^ 0x5A) unless written, PCI words computed from the location,
// and a ROM at 0xF0000-0xFFFFF holding a recognisable pattern. Every access is
// logged; any access can be made to fail.
class FakeBackend : public Backend {
 public:
  static constexpr std::uint32_t kRomBase = 0xF0000;
  static constexpr std::uint32_t kRomSize = 0x10000;

  FakeBackend() {
    for (std::uint32_t i = 0; i < kRomSize; ++i) rom_[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::uint32_t i = 0; i < 256; ++i) registers_[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  }

  bool ReadPort(std::uint16_t port, std::uint8_t& value) override {
    if (!Allow("in " + std::to_string(port))) return false;
    std::lock_guard lock(mutex_);
    if (IsData(port)) {
      value = registers_[index_];
    } else {
      value = ports_[port];
    }
    return true;
  }

  bool WritePort(std::uint16_t port, std::uint8_t value) override {
    if (!Allow("out " + std::to_string(port) + "=" + std::to_string(value))) return false;
    {
      std::lock_guard lock(mutex_);
      if (IsIndex(port)) {
        index_ = value;
      } else if (IsData(port)) {
        registers_[index_] = value;
      } else {
        ports_[port] = value;
      }
    }
    // Widens the window between an index write and the data access, so that a
    // request that is not atomic shows up in concurrent tests.
    if (IsIndex(port)) std::this_thread::yield();
    return true;
  }

  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override {
    if (!Allow("pci " + std::to_string(bus) + ":" + std::to_string(device) + "." + std::to_string(function) +
               "@" + std::to_string(reg)))
      return false;
    value = PciWord(bus, device, function, reg);
    return true;
  }

  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override {
    if (!Allow("mem " + std::to_string(address) + "+" + std::to_string(out.size()))) return false;
    if (address < kRomBase || address - kRomBase + out.size() > kRomSize) return false;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = rom_[address - kRomBase + i];
    return true;
  }

  bool ReadTimeStampCounter(std::uint64_t& tsc) override {
    if (!Allow("tsc")) return false;
    tsc = 0x1122334455667788ull + tscReads_++;
    return true;
  }

  static std::uint16_t PciWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                               std::uint8_t reg) {
    return static_cast<std::uint16_t>((bus << 12) ^ (device << 7) ^ (function << 4) ^ (reg * 0x101));
  }
  std::uint8_t Rom(std::uint32_t address) const { return rom_[address - kRomBase]; }
  std::uint8_t Port(std::uint16_t port) const { return ports_[port]; }
  std::uint8_t Register(std::uint8_t index) const { return registers_[index]; }

  std::vector<std::string> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  // The n-th access from now on (0 = the next one) fails; -1 = none fail.
  void FailAccess(int n) { failAt_ = n; }
  // Keeps the log short in tests that make many requests.
  void SetLogging(bool on) { logging_ = on; }

 private:
  static bool IsIndex(std::uint16_t port) { return port == 0x2E || port == 0x295; }
  static bool IsData(std::uint16_t port) { return port == 0x2F || port == 0x296; }

  bool Allow(const std::string& what) {
    if (logging_) {
      std::lock_guard lock(mutex_);
      log_.push_back(what);
    }
    const int n = failAt_.load();
    if (n < 0) return true;
    failAt_ = n - 1;
    return n != 0;
  }

  std::mutex mutex_;
  std::array<std::uint8_t, 0x10000> ports_{};
  std::array<std::uint8_t, 256> registers_{};
  std::uint8_t index_ = 0;
  std::array<std::uint8_t, kRomSize> rom_{};
  std::vector<std::string> log_;
  std::atomic<int> failAt_{-1};
  std::atomic<bool> logging_{true};
  std::atomic<std::uint64_t> tscReads_{0};
};

}  // namespace rq::driver::testing
