#pragma once
#include <chrono>
#include <cstdint>

namespace rq::hw {

// The open device of the I/O driver. One call is one control request: the buffer
// goes to the driver and comes back with the same length, filled in.
class DriverHandle {
 public:
  virtual ~DriverHandle() = default;
  virtual bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) = 0;
  // False once the driver has been taken as gone (it stopped answering): every
  // request fails at once from then on.
  virtual bool Connected() const { return true; }
  // Gives the driver up from any thread without waiting for it: the request in
  // flight and every later one fail at once, and Connected() is false from then on.
  // For a close that must not wait for a driver that stopped answering.
  virtual void Abandon() {}
  // How long the request in flight has waited for its answer; zero when none is.
  virtual std::chrono::milliseconds Waiting() const { return std::chrono::milliseconds{0}; }
};

// Process-wide driver state, written once by the system object before any device
// object exists and only read afterwards. Every IOInterface operation reads it.
struct DriverState {
  bool driverMode = true;                // always true on Linux: hardware is reached through the driver
  DriverHandle* deviceHandle = nullptr;  // null: no driver available
};

DriverState& ProcessDriverState();

// Installs a handle for the lifetime of the scope and puts the old state back
// afterwards; for tools and tests that talk to a board without a system object.
class ScopedDriverHandle {
 public:
  explicit ScopedDriverHandle(DriverHandle* handle) : saved_(ProcessDriverState()) {
    ProcessDriverState() = DriverState{true, handle};
  }
  ~ScopedDriverHandle() { ProcessDriverState() = saved_; }
  ScopedDriverHandle(const ScopedDriverHandle&) = delete;
  ScopedDriverHandle& operator=(const ScopedDriverHandle&) = delete;

 private:
  DriverState saved_;
};

}  // namespace rq::hw
