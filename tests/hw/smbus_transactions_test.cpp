// The exact port traffic and waits of each host family's transactions on an idle
// host whose transactions complete at once: every port write with its value, every
// port read, every wait and poll sleep, in order, written out from the host's
// programming steps.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/VirtualBoardBackend.h"
#include "hw/SmbusHost.h"
#include "sim/Board.h"
#include "smbus_fakes.h"

namespace rq::hw {
namespace {

using testing::HostFixtureScope;
using Trace = std::vector<std::string>;

constexpr std::uint8_t kDeviceAddress = 0xD2;  // 8-bit form
constexpr std::uint8_t kByteCountRegister = 8;

// Register r holds 0x40 + r; a block read answers with as many registers as
// register 8 says (3).
class CountingDevice final : public sim::SmbusDevice {
 public:
  CountingDevice() : SmbusDevice(kDeviceAddress >> 1) { PowerOnReset(); }
  std::string Name() const override { return "counting-registers"; }
  void PowerOnReset() override {
    for (unsigned r = 0; r < registers.size(); ++r) registers[r] = static_cast<std::uint8_t>(0x40 + r);
    registers[kByteCountRegister] = 3;
  }
  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override {
    value = registers[command & 0x1F];
    return true;
  }
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override {
    registers[command & 0x1F] = value;
    return true;
  }
  bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) override {
    for (unsigned k = 0; k < registers[kByteCountRegister]; ++k)
      data.push_back(registers[(command + k) & 0x1F]);
    return true;
  }
  bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) override {
    for (unsigned k = 0; k < data.size(); ++k) registers[(command + k) & 0x1F] = data[k];
    return true;
  }
  std::array<std::uint8_t, 32> registers{};
};

// Port accesses relative to the host base and the host's waits, in one list.
class TracingBackend final : public driver::Backend {
 public:
  TracingBackend(driver::Backend& inner, std::uint16_t base, Trace& trace)
      : inner_(inner), base_(base), trace_(trace) {}
  bool ReadPort(std::uint16_t port, std::uint8_t& value) override {
    char text[16];
    std::snprintf(text, sizeof text, "in +%X", port - base_);
    trace_.push_back(text);
    return inner_.ReadPort(port, value);
  }
  bool WritePort(std::uint16_t port, std::uint8_t value) override {
    char text[16];
    std::snprintf(text, sizeof text, "out +%X=%02X", port - base_, value);
    trace_.push_back(text);
    return inner_.WritePort(port, value);
  }
  bool ReadPciConfigWord(std::uint8_t bus, std::uint8_t device, std::uint8_t function, std::uint8_t reg,
                         std::uint16_t& value) override {
    return inner_.ReadPciConfigWord(bus, device, function, reg, value);
  }
  bool ReadPhysicalMemory(std::uint32_t address, std::span<std::uint8_t> out) override {
    return inner_.ReadPhysicalMemory(address, out);
  }

 private:
  driver::Backend& inner_;
  std::uint16_t base_;
  Trace& trace_;
};

class TracingClock final : public SmbusClock {
 public:
  explicit TracingClock(Trace& trace) : trace_(trace) {}
  void DelayMs(std::uint32_t ms) override {
    now_ += ms;
    trace_.push_back("wait " + std::to_string(ms));
  }
  void SleepMs(std::uint32_t ms) override {
    now_ += ms;
    trace_.push_back("sleep " + std::to_string(ms));
  }
  std::uint32_t NowMs() override { return now_; }

 private:
  Trace& trace_;
  std::uint32_t now_ = 0;
};

struct Host {
  const char* chip;  // the profile's [[chip]] block
  std::int16_t kind;
  std::uint16_t base;
};

const Host kIch{"type = \"ich-smbus\"\nkind = 103\nbase = 0x0400\n", kHostIntelICH5, 0x0400};
const Host kVia{"type = \"via-smbus\"\nkind = 302\nbase = 0x0600\n", kHostVIA8235, 0x0600};
const Host kSis{"type = \"sis962-smbus\"\n", kHostSis962, 0x10C0};
const Host kNvidia{"type = \"nvidia-mcp-smbus\"\nbase = 0x5000\n", kHostNVidiaMCP, 0x5000};

constexpr const char* kBoardHead =
    "name = \"smbus-trace\"\n"
    "[bios]\nmodel = \"SMBUS TRACE BOARD\"\n"
    "[cpu]\nmultiplier = 10\nmax_stable_fsb = 200.0\npower_on_fsb = 100.0\n"
    "[[chip]]\n";

// One host of the virtual board with the counting device on it, traced.
class TracedHost {
 public:
  explicit TracedHost(const Host& host)
      : board_(sim::Board::FromProfileText(std::string(kBoardHead) + host.chip, time_)),
        backend_(*board_, driver::VirtualBoardBackend::WhenHung::Fail),
        tracing_(backend_, host.base, trace),
        scope_(tracing_),
        clock_(trace),
        installed_(clock_) {
    board_->Smbus().Attach(device);
    ProcessSmbusHost() = {host.kind, host.base};
    io = CreateI2CIo(host.kind, kDeviceAddress);
  }

  Trace trace;
  CountingDevice device;
  std::unique_ptr<I2CIo> io;

 private:
  sim::ManualTimeSource time_;
  std::unique_ptr<sim::Board> board_;
  driver::VirtualBoardBackend backend_;
  TracingBackend tracing_;
  HostFixtureScope scope_;
  TracingClock clock_;
  ScopedSmbusClock installed_;
};

// The transactions; each reports the byte read or the count moved.
struct Transaction {
  const char* name;
  std::function<unsigned(I2CIo&, std::array<std::int32_t, 32>&)> run;
};
const Transaction kReadByte{"read byte 0x05", [](I2CIo& io, std::array<std::int32_t, 32>&) {
                              std::uint32_t value = 0;
                              return io.ReadByte(&value, 0x05) ? value : 0xFFFFu;
                            }};
const Transaction kWriteByte{"write byte 0xA7 at 0x05", [](I2CIo& io, std::array<std::int32_t, 32>&) {
                               io.WriteByte(0xA7, 0x05);
                               return 0u;
                             }};
const Transaction kReadBlock{"read block of 3 at 2", [](I2CIo& io, std::array<std::int32_t, 32>& buffer) {
                               const unsigned n = io.ReadBlock(buffer.data(), 2, 3);
                               return n == 3 && buffer[2] == 0x42 && buffer[4] == 0x44 ? n : 0u;
                             }};
const Transaction kReadBlockOfDeviceCount{
    "read block of the device's count at 2",
    [](I2CIo& io, std::array<std::int32_t, 32>& buffer) { return io.ReadBlock(buffer.data(), 2, 0); }};
const Transaction kWriteBlock{"write block 0x21 0x22 at 12",
                              [](I2CIo& io, std::array<std::int32_t, 32>& buffer) {
                                buffer[12] = 0x21;
                                buffer[13] = 0x22;
                                return io.WriteBlock(buffer.data(), 12, 2);
                              }};

struct TraceCase {
  const Host* host;
  const Transaction* transaction;
  unsigned result;
  Trace expected;
};

// ICH: a block moves byte by byte, each byte handed over on byte done and released by
// clearing the status; before the last byte the control is rewritten with the last-byte bit.
#define ICH_CLEAR "out +0=FF", "wait 5"
// VIA: a status test reads +0, waits 5 ms and writes 0x40 back; busy, complete and
// byte done repeat it and read +0 once more.
#define VIA_STATUS_TEST "in +0", "wait 5", "out +0=40"
#define VIA_BIT_TEST VIA_STATUS_TEST, "in +0"
#define VIA_CLEAR "out +0=FF", "wait 5"
const TraceCase kTraceCases[] = {
    {&kIch,
     &kReadByte,
     0x45,
     {"in +0", "out +4=D3", "out +3=05", "out +0=FF", "out +5=FF", "out +2=48", "wait 10", "in +0", "in +0",
      "in +5", ICH_CLEAR, "in +0"}},
    {&kIch,
     &kWriteByte,
     0,
     {"in +0", "out +4=D2", "out +3=05", "out +5=A7", "out +6=00", "out +0=FF", "out +2=48", "in +0",
      ICH_CLEAR, "in +0"}},
    {&kIch, &kReadBlock, 3, {"in +0",   "out +4=D3", "out +3=02", "out +2=54", "wait 5", "in +0",
                             "in +7",   "in +0",     ICH_CLEAR,   "in +0",     "in +7",  "in +0",
                             ICH_CLEAR, "in +2",     "out +2=34", "wait 5",    "in +0",  "in +7",
                             "in +0",   ICH_CLEAR,   "in +0"}},
    {&kIch, &kReadBlockOfDeviceCount, 3, {"in +0", "out +4=D3", "out +3=02", "out +2=54", "wait 5", "in +5",
                                          "in +0", "in +7",     "in +0",     ICH_CLEAR,   "in +0",  "in +7",
                                          "in +0", ICH_CLEAR,   "in +2",     "out +2=34", "wait 5", "in +0",
                                          "in +7", "in +0",     ICH_CLEAR,   "in +0"}},
    {&kIch,
     &kWriteBlock,
     2,
     {"in +0", "out +4=D2", "out +5=02", "out +3=0C", "out +6=00", "out +7=21", "out +2=54", "wait 5",
      "in +0", "in +0", "out +7=22", "in +2", "out +2=34", "wait 5", ICH_CLEAR, "in +0", "in +0", ICH_CLEAR,
      "in +0"}},
    {&kVia,
     &kReadByte,
     0x45,
     {VIA_CLEAR, VIA_BIT_TEST, "out +4=D3", "out +3=05", "out +0=FF", "out +5=FF", "out +2=48", "wait 5",
      "in +0", VIA_BIT_TEST, "in +5", VIA_CLEAR, VIA_BIT_TEST}},
    {&kVia,
     &kWriteByte,
     0,
     {VIA_CLEAR, VIA_BIT_TEST, "out +4=D2", "out +3=05", "out +5=A7", "out +6=00", "out +0=FF", "out +2=48",
      "wait 5", VIA_BIT_TEST, VIA_CLEAR, VIA_BIT_TEST}},
    {&kVia,
     &kReadBlock,
     3,
     {VIA_CLEAR, VIA_BIT_TEST, "in +2", "out +4=D3", "out +3=02", "out +0=FF", "out +5=FF", "out +2=54",
      "wait 15", VIA_BIT_TEST, "in +7", "in +7", "in +7", VIA_CLEAR, VIA_BIT_TEST}},
    {&kVia,
     &kReadBlockOfDeviceCount,
     3,
     {VIA_CLEAR, VIA_BIT_TEST, "in +2", "out +4=D3", "out +3=02", "out +0=FF", "out +5=FF", "out +2=54",
      "wait 15", VIA_BIT_TEST, "in +5", "in +7", "in +7", "in +7", VIA_CLEAR, VIA_BIT_TEST}},
    {&kVia,
     &kWriteBlock,
     2,
     {VIA_CLEAR, VIA_BIT_TEST, "in +2", "out +4=D2", "out +3=0C", "out +5=02", "out +6=00", "out +7=21",
      "out +7=22", "out +0=FF", "out +2=54", "wait 5", VIA_BIT_TEST, VIA_CLEAR, VIA_BIT_TEST}},
    // SiS: a block read first block-writes its count into the device's register 8.
    {&kSis, &kReadBlock, 3, {"in +0",     "out +4=D2", "out +5=08", "out +7=01", "out +8=03", "out +3=15",
                             "wait 10",   "in +0",     "out +0=FF", "wait 5",    "in +0",     "out +4=D3",
                             "out +5=02", "out +3=15", "wait 10",   "in +0",     "in +8",     "in +9",
                             "in +A",     "out +0=FF", "wait 5"}},
    {&kSis,
     &kWriteBlock,
     2,
     {"in +0", "out +4=D2", "out +5=0C", "out +7=02", "out +8=21", "out +9=22", "out +3=15", "wait 10",
      "in +0", "out +0=FF", "wait 5"}},
    {&kSis, &kReadByte, 0, {}},  // reports success, leaves the value alone
    {&kSis, &kWriteByte, 0, {}},
    // nVidia: status at +1, protocol at +0 (0x07 read, 0x06 write), clear = 0 to the protocol;
    // the device address goes to +2 first.
    {&kNvidia,
     &kReadByte,
     0x45,
     {"in +1", "out +2=D2", "out +3=05", "wait 5", "out +0=07", "wait 10", "in +1", "in +1", "in +4",
      "out +0=00", "wait 5", "in +1"}},
    {&kNvidia,
     &kWriteByte,
     0,
     {"in +1", "out +2=D2", "out +3=05", "wait 5", "out +4=A7", "wait 5", "out +0=06", "wait 5", "out +0=00",
      "wait 5", "in +1"}},
};
#undef ICH_CLEAR
#undef VIA_STATUS_TEST
#undef VIA_BIT_TEST
#undef VIA_CLEAR

TEST(SmbusTransactions, PortTrafficAndWaitsOfEachFamily) {
  for (const TraceCase& c : kTraceCases) {
    TracedHost host(*c.host);
    std::array<std::int32_t, 32> buffer{};
    const unsigned result = c.transaction->run(*host.io, buffer);
    const std::string what = std::string(c.host->chip) + c.transaction->name;
    EXPECT_EQ(host.trace, c.expected) << what;
    EXPECT_EQ(result, c.result) << what;
  }
}

}  // namespace
}  // namespace rq::hw
