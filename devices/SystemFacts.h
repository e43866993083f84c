#pragma once
#include <string>

#include "platform/Semaphore.h"

namespace rq::devices {

class PciMchIo;
class I2cClockGenIo;

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
};

SystemFacts& CurrentSystem();

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
