// Register sequences hold the bus semaphore from their first transfer to their
// last, and the Cypress parts keep it 10 ms beyond: another thread that wants the
// bus in the middle of a read-modify-write gets it only afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ClockGenBench.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"

namespace rq::devices::testing {
namespace {

using Clock = std::chrono::steady_clock;

// On its first transfer, starts a rival that takes the bus semaphore, and records
// how many transfers had happened when the rival got it.
class RivalI2CIo : public DirectI2CIo {
 public:
  using DirectI2CIo::DirectI2CIo;
  ~RivalI2CIo() override {
    if (rival_.joinable()) rival_.join();
  }

  unsigned ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) override {
    Touch();
    return DirectI2CIo::ReadBlock(buffer, start, count);
  }
  unsigned WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) override {
    Touch();
    const unsigned sent = DirectI2CIo::WriteBlock(buffer, start, count);
    lastTransfer_ = Clock::now();
    return sent;
  }
  bool ReadByte(std::uint32_t* value, std::uint8_t command) override {
    Touch();
    return DirectI2CIo::ReadByte(value, command);
  }
  void WriteByte(std::uint8_t value, std::uint8_t command) override {
    Touch();
    DirectI2CIo::WriteByte(value, command);
    lastTransfer_ = Clock::now();
  }

  void Finish() {
    if (rival_.joinable()) rival_.join();
  }
  int doneWhenRivalGotBus = -1;
  Clock::time_point rivalGotBus;
  Clock::time_point lastTransfer_;

 private:
  void Touch() {
    ++done_;
    if (rival_.joinable()) return;
    rival_ = std::thread([this] {
      SmbusLock lock;
      doneWhenRivalGotBus = done_.load();
      rivalGotBus = Clock::now();
    });
    // Give the rival every chance to barge in if the bus were free.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  std::atomic<int> done_{0};
  std::thread rival_;
};

TEST(BusLock, IcsReadModifyWriteKeepsTheBus) {
  Bench bench("ics950218", {31, 0}, {103, true, false, ""});
  auto controller = std::make_unique<RivalI2CIo>(bench.chip.get());
  RivalI2CIo* rival = controller.get();
  ICS950218Io chip(ClockGenBus{std::move(controller), 103});
  chip.EnableWatchdog(true);  // read register 10, write it back
  rival->Finish();
  EXPECT_EQ(rival->doneWhenRivalGotBus, 2);
}

TEST(BusLock, CypressSequencesKeepTheBusTenMillisecondsLonger) {
  Bench bench("w312", {31, 0}, {302, true, true, ""});
  auto controller = std::make_unique<RivalI2CIo>(bench.chip.get());
  RivalI2CIo* rival = controller.get();
  CYPW312Io chip(ClockGenBus{std::move(controller), 302});
  chip.SetFsb(140.0);  // block read, block write
  rival->Finish();
  EXPECT_EQ(rival->doneWhenRivalGotBus, 2);
  EXPECT_GE(rival->rivalGotBus - rival->lastTransfer_, std::chrono::milliseconds(10));
}

}  // namespace
}  // namespace rq::devices::testing
