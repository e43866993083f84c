#pragma once
#include <cstdint>

#include "hw/DriverHandle.h"
#include "hw/I2CIo.h"

namespace rq::hw {

// Where the SMBus hosts take their time from. The hosts wait a few
// milliseconds after each step and sleep 1 ms between status polls; tests swap in
// a virtual clock so that a transaction costs no real time, and the benchmark a
// recording one. Installed clocks must outlive every host operation.
class SmbusClock {
 public:
  virtual ~SmbusClock() = default;
  virtual void DelayMs(std::uint32_t ms) = 0;  // exact wait (platform::DelayMs)
  virtual void SleepMs(std::uint32_t ms) = 0;  // between polls
  virtual std::uint32_t NowMs() = 0;           // monotonic milliseconds
};

// The clock the hosts use now: the real one unless a test installed another.
SmbusClock& CurrentSmbusClock();

class ScopedSmbusClock {
 public:
  explicit ScopedSmbusClock(SmbusClock& clock);
  ~ScopedSmbusClock();
  ScopedSmbusClock(const ScopedSmbusClock&) = delete;
  ScopedSmbusClock& operator=(const ScopedSmbusClock&) = delete;

 private:
  SmbusClock* saved_;
};

// Time that passes only when a host waits: instant transactions with the same
// deadlines as real ones. It also tells how long the host asked to wait.
class VirtualSmbusClock final : public SmbusClock {
 public:
  void DelayMs(std::uint32_t ms) override {
    now_ += ms;
    delayedMs_ += ms;
  }
  void SleepMs(std::uint32_t ms) override {
    now_ += ms;
    sleptMs_ += ms;
  }
  std::uint32_t NowMs() override { return now_; }
  std::uint64_t DelayedMs() const { return delayedMs_; }
  std::uint64_t SleptMs() const { return sleptMs_; }

 private:
  std::uint32_t now_ = 0;
  std::uint64_t delayedMs_ = 0;
  std::uint64_t sleptMs_ = 0;
};

// How long a host may take to reach an awaited state (idle, byte done, complete,
// no longer busy) before the transaction is given up and the host aborted.
inline constexpr std::uint32_t kSmbusTimeoutMs = 250;

// Buffers of the block operations hold this many entries; nothing is stored or
// sent beyond the last one.
inline constexpr unsigned kSmbusBufferEntries = 32;

// What every host family shares: register access at the process-wide base, the
// waits, and polling against a deadline.
class SmbusHostIo : public I2CIo {
 public:
  using I2CIo::I2CIo;

 protected:
  enum class Await { kReached, kFailed, kTimedOut };

  // A failed driver request reads as an undriven bus (all ones).
  std::uint8_t In(std::uint8_t offset) const;
  void Out(std::uint8_t offset, std::uint8_t value) const;
  // Notes the device register (the command byte) a transaction addresses, which
  // the trace names; each operation starts with it.
  void NoteRegister(std::uint8_t reg) const { register_ = reg; }
  // Whether `errorBits` (the host's error bits of its status, 0 for none) report an
  // error; one that does goes to the opt-in trace.
  bool HostError(std::uint8_t errorBits) const;
  // Tells the opt-in trace that an awaited state did not come in time.
  void TraceTimeOut() const;
  void Delay(std::uint32_t ms) const { CurrentSmbusClock().DelayMs(ms); }
  static bool DriverAnswers() {
    const DriverHandle* handle = ProcessDriverState().deviceHandle;
    return handle == nullptr || handle->Connected();
  }
  void SleepMs(std::uint32_t ms) const { CurrentSmbusClock().SleepMs(ms); }

  // Runs `step` until `reached` holds. Stops early when `failed` holds (the host
  // reported an error), and at the deadline.
  template <typename Reached, typename Failed, typename Step>
  Await Until(Reached reached, Failed failed, Step step) const {
    SmbusClock& clock = CurrentSmbusClock();
    const std::uint32_t begin = clock.NowMs();
    for (;;) {
      if (reached()) return Await::kReached;
      if (failed()) return Await::kFailed;
      // A driver taken as gone answers nothing again: no use waiting for the host.
      if (clock.NowMs() - begin >= kSmbusTimeoutMs || !DriverAnswers()) {
        TraceTimeOut();
        return Await::kTimedOut;
      }
      step();
    }
  }
  template <typename Reached, typename Step>
  bool Until(Reached reached, Step step) const {
    return Until(
               reached, [] { return false; }, step) == Await::kReached;
  }
  // Polls with 1 ms sleeps.
  template <typename Reached, typename Failed>
  Await Poll(Reached reached, Failed failed) const {
    return Until(reached, failed, [this] { SleepMs(1); });
  }

  // How many entries from `start` a 32-entry buffer has room for, at most `count`.
  static unsigned Room(std::uint8_t start, unsigned count) {
    if (start >= kSmbusBufferEntries) return 0;
    const unsigned room = kSmbusBufferEntries - start;
    return count < room ? count : room;
  }
  static std::uint8_t ByteOf(std::int32_t entry) { return static_cast<std::uint8_t>(entry & 0xFF); }

 private:
  mutable std::uint8_t register_ = 0;
};

}  // namespace rq::hw
