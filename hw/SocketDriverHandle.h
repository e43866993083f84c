#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hw/DriverHandle.h"

namespace rq::hw {

// The open device: one connection to the ZQ_I2cIo daemon, one socket round trip
// per request. Threads may share the handle; their round trips take turns. When
// the daemon goes away every later request fails (the handle does not reconnect:
// the daemon that comes back may serve a board reset in between).
class SocketDriverHandle final : public DriverHandle {
 public:
  // The daemon's socket: <runtime folder>/ZQ_I2cIo.sock.
  static std::string DefaultPath();
  // Null when nobody serves at `path`.
  static std::unique_ptr<SocketDriverHandle> Connect(const std::string& path);

  ~SocketDriverHandle() override;
  SocketDriverHandle(const SocketDriverHandle&) = delete;
  SocketDriverHandle& operator=(const SocketDriverHandle&) = delete;

  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;

 private:
  explicit SocketDriverHandle(int fd) : fd_(fd) {}
  bool RoundTrip(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length);

  std::mutex mutex_;
  int fd_;  // -1 once the connection broke
};

}  // namespace rq::hw
