#pragma once
#include <condition_variable>
#include <mutex>
#include <optional>

#include "driver/Backend.h"

namespace rq::sim {
class Board;
}

namespace rq::driver {

// Serves requests from a virtual mainboard. Every access takes the board's lock,
// so the board is one state machine whoever drives it (requests, the watchdog
// tick, inspection).
class VirtualBoardBackend final : public Backend {
 public:
  // What a request meets on a hung board. The daemon blocks, as a hung machine
  // stops answering, until the watchdog resets the board; an in-process handle
  // fails at once so that nothing stalls a test.
  enum class WhenHung { Block, Fail };

  // `kernelSmbus`: the board also offers its SMBus as a kernel adapter would,
  // transactions served straight from its SMBus devices.
  VirtualBoardBackend(sim::Board& board, WhenHung whenHung, bool kernelSmbus = false);

  bool ReadPort(std::uint16_t port, std::uint8_t& value) override;
  bool WritePort(std::uint16_t port, std::uint8_t value) override;
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override;
  // Only the BIOS ROM is mapped; any other address fails.
  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override;
  bool ReadTimeStampCounter(std::uint64_t& tsc) override;
  // The board has one SMBus: the adapter serves whichever host base the client found.
  bool HasSmbusAdapter(std::uint16_t hostBase) override;
  bool SmbusTransaction(std::uint16_t hostBase, SmbusTransfer& transfer) override;

  // Makes every waiting and later request fail; for shutting the daemon down.
  void Shutdown();

 private:
  using BoardLock = std::unique_lock<std::recursive_mutex>;
  // The board's lock once the board runs. Nothing when the request must fail: the
  // board is hung (WhenHung::Fail), was reset while the request waited (the
  // request belonged to the machine that went down), or the backend shuts down.
  std::optional<BoardLock> Running();

  sim::Board& board_;
  WhenHung whenHung_;
  bool kernelSmbus_;
  std::mutex waitMutex_;
  std::condition_variable wake_;
  bool shutdown_ = false;
};

}  // namespace rq::driver
