#pragma once
#include <atomic>
#include <cstdint>
#include <semaphore>

namespace rq::platform {

// The bus semaphore: initial and maximum count 1, waited on without time-out.
class BusSemaphore {
 public:
  void Acquire() {
    sem_.acquire();
    acquisitions_.fetch_add(1, std::memory_order_relaxed);
  }
  void Release() { sem_.release(); }
  // How often it has been taken: tells one held sequence from several short ones.
  std::uint64_t Acquisitions() const { return acquisitions_.load(std::memory_order_relaxed); }

 private:
  std::binary_semaphore sem_{1};
  std::atomic<std::uint64_t> acquisitions_{0};
};

// Holds the bus semaphore for one register sequence.
class BusLock {
 public:
  explicit BusLock(BusSemaphore& sem) : sem_(sem) { sem_.Acquire(); }
  ~BusLock() { sem_.Release(); }
  BusLock(const BusLock&) = delete;
  BusLock& operator=(const BusLock&) = delete;

 private:
  BusSemaphore& sem_;
};

}  // namespace rq::platform
