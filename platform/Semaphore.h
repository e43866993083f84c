#pragma once
#include <semaphore>

namespace rq::platform {

// The bus semaphore: initial and maximum count 1, waited on without time-out.
class BusSemaphore {
 public:
  void Acquire() { sem_.acquire(); }
  void Release() { sem_.release(); }

 private:
  std::binary_semaphore sem_{1};
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
