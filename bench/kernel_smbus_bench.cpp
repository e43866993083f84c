// One SMBus byte read (the overclock controller) and one eight-byte block read (the clock
// generator) on the default virtual board, through the port-level host and through the
// kernel-adapter path (--kernel-smbus), with the hosts' real waits: the time each takes and
// the ratio of the two. The virtual adapter does not model the bus's own time on the wire.
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "driver/VirtualBoardBackend.h"
#include "hw/DriverHandle.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"

namespace {

using namespace rq;
using Clock = std::chrono::steady_clock;
constexpr int kRounds = 20;

// The mean time of `run` over the rounds, in milliseconds, on a board served one way.
double MeanMs(bool kernelSmbus, std::uint8_t slave, const std::function<bool(hw::I2CIo&)>& run) {
  sim::RealTimeSource time;
  const auto board = sim::Board::Shipped("default", time);
  driver::VirtualBoardBackend backend(*board, driver::VirtualBoardBackend::WhenHung::Fail, kernelSmbus);
  driver::InProcessDriverHandle handle(backend);
  hw::ScopedDriverHandle driver(&handle);
  hw::ProcessSmbusHost() = {};
  if (!hw::DetectSmbusHost()) return -1;
  const auto io = hw::CreateI2CIo(hw::ProcessSmbusHost(), slave);
  const auto begin = Clock::now();
  for (int round = 0; round < kRounds; ++round) {
    if (!run(*io)) return -1;
  }
  hw::ProcessSmbusHost() = {};
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count() / kRounds;
}

}  // namespace

int main() {
  std::array<std::int32_t, 32> buffer{};
  std::uint32_t value = 0;
  const struct {
    const char* name;
    std::uint8_t slave;
    std::function<bool(hw::I2CIo&)> run;
  } transactions[] = {
      {"read byte", 0x9C, [&](hw::I2CIo& io) { return io.ReadByte(&value, 0); }},
      {"read block", 0xD2, [&](hw::I2CIo& io) { return io.ReadBlock(buffer.data(), 0, 8) == 8; }},
  };
  std::printf("%-11s %12s %12s %9s\n", "transaction", "ports ms", "kernel ms", "ratio");
  for (const auto& transaction : transactions) {
    const double ports = MeanMs(false, transaction.slave, transaction.run);
    const double kernel = MeanMs(true, transaction.slave, transaction.run);
    if (ports < 0 || kernel <= 0) {
      std::fprintf(stderr, "%s failed\n", transaction.name);
      return 1;
    }
    std::printf("%-11s %12.3f %12.4f %8.0fx\n", transaction.name, ports, kernel, ports / kernel);
  }
  return 0;
}
