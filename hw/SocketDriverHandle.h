#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hw/DriverHandle.h"

namespace rq::hw {

// A connected Unix socket of `type` (SOCK_SEQPACKET, SOCK_STREAM) to `path`,
// close-on-exec; -1 when the path is too long or nothing listens there.
int ConnectLocalSocket(const std::string& path, int type);

// The open device: one connection to the ZQ_I2cIo daemon, one socket round trip
// per request. Threads may share the handle; their round trips take turns. When
// the daemon goes away, or leaves a request unanswered past the reply time-out,
// every later request fails at once (the handle does not reconnect: the daemon
// that comes back may serve a board reset in between).
class SocketDriverHandle final : public DriverHandle {
 public:
  // The longest a request may legitimately wait: a request to a hung board is
  // answered (with a failure) once the clock generator's watchdog resets it, at
  // most 40 s after the watchdog was armed (its time-out as the program programs
  // it, rounded up to the chip's units) plus the daemon's 20 ms tick. The rest is
  // margin for a loaded machine. Beyond it the daemon is taken as gone.
  static constexpr std::chrono::milliseconds kReplyTimeout{60'000};

  // The daemon's socket: <runtime folder>/ZQ_I2cIo.sock.
  static std::string DefaultPath();
  // Null when nobody serves at `path`.
  static std::unique_ptr<SocketDriverHandle> Connect(const std::string& path,
                                                     std::chrono::milliseconds replyTimeout = kReplyTimeout);

  ~SocketDriverHandle() override;
  SocketDriverHandle(const SocketDriverHandle&) = delete;
  SocketDriverHandle& operator=(const SocketDriverHandle&) = delete;

  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override;
  bool Connected() const override { return !gone_; }
  // Shuts the connection down (a blocked receive wakes at once); the descriptor
  // stays open until the handle ends, so a thread still using it never meets a
  // reused number.
  void Abandon() override;
  std::chrono::milliseconds Waiting() const override;

 private:
  SocketDriverHandle(int fd, std::chrono::milliseconds replyTimeout) : fd_(fd), replyTimeout_(replyTimeout) {}
  bool RoundTrip(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length);

  std::mutex mutex_;
  const int fd_;
  // Set once the connection broke, a reply did not come in time or it was abandoned.
  std::atomic<bool> gone_{false};
  std::atomic<bool> abandoned_{false};
  // When the round trip under way began (steady clock, ns); zero between them.
  std::atomic<std::int64_t> inFlightSince_{0};
  const std::chrono::milliseconds replyTimeout_;
};

}  // namespace rq::hw
