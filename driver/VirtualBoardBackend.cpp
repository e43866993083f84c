#include "driver/VirtualBoardBackend.h"

#include <chrono>

#include "protocol/Protocol.h"
#include "sim/Board.h"

namespace rq::driver {
namespace {

// How often a request waiting on a hung board looks again. The board's tick runs
// at about this rate too, so a reset is noticed within a tick or two.
constexpr std::chrono::milliseconds kHungPoll{20};

}  // namespace

VirtualBoardBackend::VirtualBoardBackend(sim::Board& board, WhenHung whenHung, bool kernelSmbus)
    : board_(board), whenHung_(whenHung), kernelSmbus_(kernelSmbus) {}

std::optional<VirtualBoardBackend::BoardLock> VirtualBoardBackend::Running() {
  BoardLock lock = board_.Lock();
  if (!board_.Hung()) return lock;
  if (whenHung_ == WhenHung::Fail) return std::nullopt;
  const std::uint64_t resetsBefore = board_.ResetCount();
  while (true) {
    lock.unlock();  // the watchdog tick and inspection need the board meanwhile
    {
      std::unique_lock wait(waitMutex_);
      if (wake_.wait_for(wait, kHungPoll, [this] { return shutdown_; })) return std::nullopt;
    }
    lock.lock();
    if (board_.ResetCount() != resetsBefore) return std::nullopt;
    if (!board_.Hung()) return lock;
  }
}

void VirtualBoardBackend::Shutdown() {
  {
    std::lock_guard lock(waitMutex_);
    shutdown_ = true;
  }
  wake_.notify_all();
}

bool VirtualBoardBackend::ReadPort(std::uint16_t port, std::uint8_t& value) {
  auto lock = Running();
  if (!lock) return false;
  value = board_.Ports().In(port);
  return true;
}

bool VirtualBoardBackend::WritePort(std::uint16_t port, std::uint8_t value) {
  auto lock = Running();
  if (!lock) return false;
  board_.Ports().Out(port, value);
  return true;
}

bool VirtualBoardBackend::ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                            std::uint8_t reg, std::uint16_t& value) {
  auto lock = Running();
  if (!lock) return false;
  value = board_.Pci().ReadConfigWord(sim::PciLocation{bus, device, function}, reg);
  return true;
}

bool VirtualBoardBackend::ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) {
  auto lock = Running();
  if (!lock) return false;
  return board_.Bios().Read(address, out);
}

bool VirtualBoardBackend::ReadTimeStampCounter(std::uint64_t& tsc) {
  auto lock = Running();
  if (!lock) return false;
  tsc = board_.Processor().TimeStampCounter();
  return true;
}

bool VirtualBoardBackend::HasSmbusAdapter(std::uint16_t /*hostBase*/) { return kernelSmbus_; }

// A slave that is not there, or that does not acknowledge, fails the transaction
// as the kernel reports a NACK; a block beyond what the SMBus carries is a
// protocol error there too.
bool VirtualBoardBackend::SmbusTransaction(std::uint16_t /*hostBase*/, SmbusTransfer& transfer) {
  if (!kernelSmbus_) return false;
  auto lock = Running();
  if (!lock) return false;
  sim::SmbusDevice* device = board_.Smbus().Find(transfer.slave);
  if (device == nullptr) return false;
  switch (transfer.kind) {
    case SmbusTransfer::Kind::kReadByteData:
      transfer.data.assign(1, 0);
      return device->ReadByteData(transfer.command, transfer.data[0]);
    case SmbusTransfer::Kind::kWriteByteData:
      return transfer.data.size() == 1 && device->WriteByteData(transfer.command, transfer.data[0]);
    case SmbusTransfer::Kind::kReadBlockData:
      transfer.data.clear();
      return device->BlockRead(transfer.command, transfer.data) && !transfer.data.empty() &&
             transfer.data.size() <= protocol::smbus_request::kMaxData;
    case SmbusTransfer::Kind::kWriteBlockData:
      return device->BlockWrite(transfer.command, transfer.data);
  }
  return false;
}

}  // namespace rq::driver
