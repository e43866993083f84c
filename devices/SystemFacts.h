#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Semaphore.h"

namespace rq::devices {

class PciMchIo;
class I2cClockGenIo;
class ISAHwMonitorIo;
struct HwmonChannel;

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
  // Without a monitor chip: the host's own sensors in their listed order, or null.
  const std::vector<HwmonChannel>* hostSensors = nullptr;
  // Waits for a regulator to settle; empty means a real sleep (tests count instead).
  std::function<void(std::uint32_t ms)> sleep;
  // The settings file whose board-model section describes this board's wiring.
  std::string settingsFile = "torvane.ini";
  // Stand-ins for keys the file lacks (a look at a board whose section was never
  // written into the file); empty in the program.
  std::vector<std::pair<std::string, std::string>> boardDefaults;
};

SystemFacts& CurrentSystem();

// Sleeps through CurrentSystem().sleep when one is set.
void SleepMs(std::uint32_t ms);

// Keys of the section named after the board model (sensor and GPIO wiring), read
// afresh on every call; an absent file, section or key yields the default.
int BoardSettingInt(const std::string& key, int defaultValue);
std::string BoardSettingString(const std::string& key);

// Holds a bus for one register sequence: first the process's bus semaphore (the
// threads of a program share one driver connection, so only one of them may wait
// for the driver's lock), then the driver's lock of `key`, which keeps every other
// program off the bus. A hold opened while the thread holds the same key joins it
// and fails when that one failed. When the driver's lock cannot be had, Held() is
// false and the sequence must not touch the bus.
class BusHold {
 public:
  explicit BusHold(std::uint32_t key);
  ~BusHold();
  BusHold(const BusHold&) = delete;
  BusHold& operator=(const BusHold&) = delete;

  bool Held() const { return held_; }

 private:
  std::uint32_t key_;
  bool held_ = false;
};

// Holds the SMBus (the driver's lock keyed by the host's base port) for one
// register sequence. Before a host is found there is no bus to share: only the
// process semaphore is taken.
class SmbusLock : public BusHold {
 public:
  SmbusLock();
};

}  // namespace rq::devices
