#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Semaphore.h"

namespace rq::devices {

class PciMchIo;
class I2cClockGenIo;
class ISAHwMonitorIo;

// The facts a chip consults about the rest of the system: the bus semaphore that
// serialises SMBus sequences, the detected north bridge (its AMD-K7 flag gates
// some clock generators), the clock generator (one north bridge derives its memory
// clock from it) and the board model. The system object fills these in as it
// detects; tests fill them in directly.
struct SystemFacts {
  platform::BusSemaphore* busSemaphore = nullptr;
  const PciMchIo* northBridge = nullptr;
  I2cClockGenIo* clockGenerator = nullptr;
  std::string boardModel;
  // The detected hardware monitor: the GPIO over-voltage controllers measure the
  // core voltage through it.
  ISAHwMonitorIo* hardwareMonitor = nullptr;
  // Waits for a regulator to settle; empty means a real sleep (tests count instead).
  std::function<void(std::uint32_t ms)> sleep;
  // The settings file whose board-model section describes this board's wiring.
  std::string settingsFile = "torvane.ini";
};

SystemFacts& CurrentSystem();

// Sleeps through CurrentSystem().sleep when one is set.
void SleepMs(std::uint32_t ms);

// Keys of the section named after the board model (sensor and GPIO wiring), read
// afresh on every call; an absent file, section or key yields the default.
int BoardSettingInt(const std::string& key, int defaultValue);
std::string BoardSettingString(const std::string& key);

// Takes the bus semaphore for one register sequence (no-op without a semaphore).
class SmbusLock {
 public:
  SmbusLock();
  ~SmbusLock();
  SmbusLock(const SmbusLock&) = delete;
  SmbusLock& operator=(const SmbusLock&) = delete;

 private:
  platform::BusSemaphore* sem_;
};

}  // namespace rq::devices
