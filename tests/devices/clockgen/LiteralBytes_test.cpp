// The exact register bytes each part is left with: a plain register file stands in
// for the chip (no simulated PLL, no shared tables), every row starts from the same
// preset, and the expected bytes are written out by hand from the datasheet layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ClockGenBench.h"
#include "devices/clockgen/CypressClockGens.h"
#include "devices/clockgen/IcsClockGens.h"
#include "hw/DriverHandle.h"

namespace rq::devices::testing {
namespace {

using Registers = std::array<std::uint8_t, 32>;
using Bytes = std::vector<std::pair<int, int>>;  // (register, value)

// Block transfers at commands below 0x80 (a read reports 18 bytes from the command on),
// byte transfers at 0x80 | register.
class RegisterFile : public sim::SmbusDevice {
 public:
  static constexpr std::size_t kBlockLength = 18;
  explicit RegisterFile(const Registers& preset) : SmbusDevice(0x69), regs(preset) {}
  std::string Name() const override { return "register file"; }
  void PowerOnReset() override {}
  bool ReadByteData(std::uint8_t command, std::uint8_t& value) override {
    if ((command & 0x80) == 0 || (command & 0x7F) >= regs.size()) return false;
    value = regs[command & 0x7F];
    return true;
  }
  bool WriteByteData(std::uint8_t command, std::uint8_t value) override {
    if ((command & 0x80) == 0 || (command & 0x7F) >= regs.size()) return false;
    regs[command & 0x7F] = value;
    return true;
  }
  bool BlockRead(std::uint8_t command, std::vector<std::uint8_t>& data) override {
    if (command >= regs.size()) return false;
    const std::size_t end = std::min(regs.size(), command + kBlockLength);
    data.assign(regs.begin() + command, regs.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
  }
  bool BlockWrite(std::uint8_t command, std::span<const std::uint8_t> data) override {
    if (command + data.size() > regs.size()) return false;
    std::copy(data.begin(), data.end(), regs.begin() + command);
    return true;
  }
  Registers regs;
};

using Factory = std::unique_ptr<I2cClockGenIo> (*)(ClockGenBus);
template <typename T>
std::unique_ptr<I2cClockGenIo> Make(ClockGenBus bus) {
  return std::make_unique<T>(std::move(bus));
}

struct Part {
  const char* name;
  Factory make;
  std::int16_t hostKind;
  Bytes preset;
  double defaultFsb;
};

Registers With(Registers regs, const Bytes& bytes) {
  for (const auto& [reg, value] : bytes) regs[reg] = static_cast<std::uint8_t>(value);
  return regs;
}

// The registers that differ, as "r10 0x65 (want 0xA5)"; empty when all agree.
std::string Differences(const Registers& got, const Registers& want) {
  std::string text;
  char line[40];
  for (std::size_t r = 0; r < got.size(); ++r) {
    if (got[r] == want[r]) continue;
    std::snprintf(line, sizeof line, "r%zu 0x%02X (want 0x%02X) ", r, got[r], want[r]);
    text += line;
  }
  return text;
}

// One part over a register file, with the bus semaphore and a port recorder in place.
class Rig {
 public:
  explicit Rig(const Part& part, const Bytes& before = {})
      : preset(With(With({}, part.preset), before)),
        file(preset),
        ports_(nullptr),
        driver_(&ports_),
        saved_(CurrentSystem()) {
    CurrentSystem().busSemaphore = &semaphore_;
    chip = part.make(ClockGenBus{std::make_unique<DirectI2CIo>(&file), part.hostKind});
  }
  ~Rig() { CurrentSystem() = saved_; }
  const std::vector<std::pair<std::uint16_t, std::uint8_t>>& PortWrites() const { return ports_.writes; }

  Registers preset;
  RegisterFile file;
  std::unique_ptr<I2cClockGenIo> chip;

 private:
  platform::BusSemaphore semaphore_;
  PortHandle ports_;
  hw::ScopedDriverHandle driver_;
  SystemFacts saved_;
};

// Presets: CPU divider register, M and the frequency-select registers; register 10
// (ICS) and registers 9 and W (Cypress) carry bits the writes must keep.
const Part kIcs950905{"ICS950905",
                      Make<ICS950905Io>,
                      303,
                      {{1, 0x00}, {4, 0xA0}, {10, 0x25}, {11, 0x0C}, {12, 0xFE}, {15, 0x00}},
                      133.9};
const Part kIcs950910{"ICS950910",
                      Make<ICS950910Io>,
                      303,
                      {{1, 0x04}, {4, 0x80}, {10, 0x25}, {11, 0x06}, {12, 0x68}, {15, 0x00}},
                      100.0};
const Part kIcs9428{"ICS9428",
                    Make<ICS9428Io>,
                    501,
                    {{1, 0x00}, {4, 0x30}, {10, 0x25}, {11, 0x87}, {12, 0x47}, {15, 0x04}},
                    133.3};
const Part kIcs952005{"ICS952005",
                      Make<ICS952005Io>,
                      501,
                      {{4, 0x44}, {8, 0x0F}, {10, 0x05}, {11, 0x0A}, {12, 0xD8}, {15, 0x00}},
                      133.6};
const Part kIcs952001{
    "ICS952001", Make<ICS952001Io>, 501, {{8, 0x0F}, {10, 0x05}, {11, 0x05}, {12, 0x7A}, {15, 0x00}}, 133.3};
const Part kCy28323{
    "CY28323", Make<CYPCY28323Io>, 101, {{5, 0xF8}, {8, 0xC0}, {9, 0x41}, {13, 0x82}, {14, 0x2D}}, 133.0};
const Part kCy28325{
    "CY28325", Make<CYPCY28325Io>, 302, {{4, 0xC0}, {9, 0x41}, {13, 0xC5}, {14, 0x5D}, {15, 0xC8}}, 100.0};
const Part kCy28349{"CY28349",
                    Make<CYPCY28349Io>,
                    103,
                    {{0, 0x1A}, {8, 0xC0}, {9, 0x41}, {10, 0x00}, {13, 0x83}, {14, 0x2D}},
                    133.6};

const Part kIcs950218{"ICS950218",
                      Make<ICS950218Io>,
                      103,
                      {{0, 0x00}, {1, 0x1F}, {10, 0x25}, {11, 0x08}, {12, 0xB2}, {15, 0x00}},
                      133.3};
const Part kIcs94228{"ICS94228", Make<ICS94228Io>, 301, {{4, 0x00}, {9, 0x05}, {10, 0x3D}}, 133.0};
const Part kW312{
    "W312-02", Make<CYPW312Io>, 302, {{4, 0xC0}, {5, 0xE8}, {9, 0x41}, {13, 0xA4}, {14, 0x2D}}, 167.0};
const Part kCy28405{
    "CY28405", Make<CYPCY28405Io>, 102, {{0, 0x0A}, {11, 0x80}, {12, 0x64}, {13, 0xB0}}, 133.6};
const Part kCy28341{"CY28341", Make<CYPCY28341Io>, 302, {{0, 0x30}, {6, 0x05}, {7, 0x43}, {9, 0x61}}, 133.3};

const Part* const kParts[] = {&kIcs950218, &kIcs950905, &kIcs950910, &kIcs94228, &kIcs9428,
                              &kIcs952005, &kIcs952001, &kW312,      &kCy28323,  &kCy28325,
                              &kCy28349,   &kCy28405,   &kCy28341};

TEST(LiteralBytes, HardwareDefaultFromThePresetSelect) {
  for (const Part* part : kParts) {
    Rig rig(*part);
    EXPECT_EQ(rig.chip->GetDefaultFsb(), part->defaultFsb) << part->name;
  }
}

std::string Mhz(double mhz) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f MHz", mhz);
  return text;
}

struct FsbCase {
  const Part* part;
  double mhz;
  Bytes changed;  // every other register keeps its preset
};

// ICS: N = round(f * D * (M + 2) / 14.31818 - 8), bit 8 in bit 7 of register 11.
// Cypress byte mode: M = 45 above 129 MHz (CY28349 always), else 93;
// N = round(f * (M + 3) / 48.00741 - 3); register 14 = M | 0x80.
// CY28405: b = trunc(f * 48 / K + 1) with K = 31.9989666 for the 133 MHz strap;
// register 12 = b >> 1, register 13 = M 48 with b's low bit in bit 7, register 14 bit 0.
// CY28341: N = round(f * 48 / 96.016) in register 7, register 9 = 0x61 (M 48).
const FsbCase kFsbCases[] = {
    // D 2, M 8
    {&kIcs950218, 133.3, {{11, 0x08}, {12, 0xB2}}},  // N 178
    {&kIcs950218, 134.3, {{11, 0x08}, {12, 0xB4}}},  // N 180
    {&kIcs950218, 136.3, {{11, 0x08}, {12, 0xB6}}},  // N 182
    {&kIcs950218, 143.3, {{11, 0x08}, {12, 0xC0}}},  // N 192
    {&kIcs950218, 128.3, {{11, 0x08}, {12, 0xAB}}},  // N 171
    // D 2, M 5; N bit 0 in register 9 bit 7, bits 1-8 in register 10
    {&kIcs94228, 133.0, {{9, 0x05}, {10, 0x3D}}},              // N 122
    {&kIcs94228, 134.0, {{9, 0x85}, {10, 0x3D}}},              // N 123
    {&kIcs94228, 136.0, {{9, 0x85}, {10, 0x3E}}},              // N 125
    {&kIcs94228, 143.0, {{9, 0x05}, {10, 0x42}}},              // N 132
    {&kIcs94228, 128.0, {{9, 0x85}, {10, 0x3A}}},              // N 117
    {&kW312, 167.0, {{13, 0xA4}, {14, 0xAD}}},                 // N 164, M 45
    {&kW312, 168.0, {{13, 0xA5}, {14, 0xAD}}},                 // N 165
    {&kW312, 170.0, {{13, 0xA7}, {14, 0xAD}}},                 // N 167
    {&kW312, 177.0, {{13, 0xAE}, {14, 0xAD}}},                 // N 174
    {&kW312, 162.0, {{13, 0x9F}, {14, 0xAD}}},                 // N 159
    {&kCy28405, 133.6, {{12, 0x64}, {13, 0xB0}, {14, 0x01}}},  // b 201
    {&kCy28405, 134.6, {{12, 0x65}, {13, 0x30}, {14, 0x01}}},  // b 202
    {&kCy28405, 136.6, {{12, 0x66}, {13, 0xB0}, {14, 0x01}}},  // b 205
    {&kCy28405, 143.6, {{12, 0x6C}, {13, 0x30}, {14, 0x01}}},  // b 216
    {&kCy28405, 128.6, {{12, 0x60}, {13, 0xB0}, {14, 0x01}}},  // b 193
    {&kCy28341, 133.3, {{7, 0x43}, {9, 0x61}}},                // N 67
    {&kCy28341, 134.3, {{7, 0x43}, {9, 0x61}}},                // N 67
    {&kCy28341, 136.3, {{7, 0x44}, {9, 0x61}}},                // N 68
    {&kCy28341, 143.3, {{7, 0x48}, {9, 0x61}}},                // N 72
    {&kCy28341, 128.3, {{7, 0x40}, {9, 0x61}}},                // N 64
    // D 2, M 12
    {&kIcs950905, 133.9, {{11, 0x0C}, {12, 0xFE}}},  // N 254
    {&kIcs950905, 134.9, {{11, 0x8C}, {12, 0x00}}},  // N 256
    {&kIcs950905, 136.9, {{11, 0x8C}, {12, 0x04}}},  // N 260
    {&kIcs950905, 143.9, {{11, 0x8C}, {12, 0x11}}},  // N 273
    {&kIcs950905, 128.9, {{11, 0x0C}, {12, 0xF4}}},  // N 244
    // D 2, M 6; programming enable in register 10 bit 7
    {&kIcs950910, 100.0, {{10, 0xA5}, {12, 0x68}}},  // N 104
    {&kIcs950910, 101.0, {{10, 0xA5}, {12, 0x69}}},  // N 105
    {&kIcs950910, 103.0, {{10, 0xA5}, {12, 0x6B}}},  // N 107
    {&kIcs950910, 110.0, {{10, 0xA5}, {12, 0x73}}},  // N 115
    {&kIcs950910, 95.0, {{10, 0xA5}, {12, 0x62}}},   // N 98
    // D 4, M 7
    {&kIcs9428, 133.3, {{11, 0x87}, {12, 0x47}}},  // N 327
    {&kIcs9428, 134.3, {{11, 0x87}, {12, 0x4A}}},  // N 330
    {&kIcs9428, 136.3, {{11, 0x87}, {12, 0x4F}}},  // N 335
    {&kIcs9428, 143.3, {{11, 0x87}, {12, 0x60}}},  // N 352
    {&kIcs9428, 128.3, {{11, 0x87}, {12, 0x3B}}},  // N 315
    // D 2, M 10; register 8 = 3 and register 10 bit 7 before N
    {&kIcs952005, 133.6, {{8, 0x03}, {10, 0x85}, {12, 0xD8}}},  // N 216
    {&kIcs952005, 134.6, {{8, 0x03}, {10, 0x85}, {12, 0xDA}}},  // N 218
    {&kIcs952005, 136.6, {{8, 0x03}, {10, 0x85}, {12, 0xDD}}},  // N 221
    {&kIcs952005, 143.6, {{8, 0x03}, {10, 0x85}, {12, 0xE9}}},  // N 233
    {&kIcs952005, 128.6, {{8, 0x03}, {10, 0x85}, {12, 0xD0}}},  // N 208
    // D 2, M 5; register 8 = 2 before N
    {&kIcs952001, 133.3, {{8, 0x02}, {12, 0x7A}}},  // N 122
    {&kIcs952001, 134.3, {{8, 0x02}, {12, 0x7B}}},  // N 123
    {&kIcs952001, 136.3, {{8, 0x02}, {12, 0x7D}}},  // N 125
    {&kIcs952001, 143.3, {{8, 0x02}, {12, 0x84}}},  // N 132
    {&kIcs952001, 128.3, {{8, 0x02}, {12, 0x75}}},  // N 117
    {&kCy28323, 133.0, {{13, 0x82}, {14, 0xAD}}},   // N 130, M 45
    {&kCy28323, 134.0, {{13, 0x83}, {14, 0xAD}}},   // N 131
    {&kCy28323, 136.0, {{13, 0x85}, {14, 0xAD}}},   // N 133
    {&kCy28323, 143.0, {{13, 0x8C}, {14, 0xAD}}},   // N 140
    {&kCy28323, 128.0, {{13, 0xFD}, {14, 0xDD}}},   // N 253, M 93
    {&kCy28325, 100.0, {{13, 0xC5}, {14, 0xDD}}},   // N 197, M 93
    {&kCy28325, 101.0, {{13, 0xC7}, {14, 0xDD}}},   // N 199
    {&kCy28325, 103.0, {{13, 0xCB}, {14, 0xDD}}},   // N 203
    {&kCy28325, 110.0, {{13, 0xD9}, {14, 0xDD}}},   // N 217
    {&kCy28325, 95.0, {{13, 0xBB}, {14, 0xDD}}},    // N 187
    // register 10 = 0x10 with every write
    {&kCy28349, 133.6, {{10, 0x10}, {13, 0x83}, {14, 0xAD}}},  // N 131
    {&kCy28349, 134.6, {{10, 0x10}, {13, 0x84}, {14, 0xAD}}},  // N 132
    {&kCy28349, 136.6, {{10, 0x10}, {13, 0x86}, {14, 0xAD}}},  // N 134
    {&kCy28349, 143.6, {{10, 0x10}, {13, 0x8D}, {14, 0xAD}}},  // N 141
    {&kCy28349, 128.6, {{10, 0x10}, {13, 0x7E}, {14, 0xAD}}},  // N 126, M stays 45
};

TEST(LiteralBytes, SetFsbLeavesTheseRegisters) {
  for (const FsbCase& c : kFsbCases) {
    Rig rig(*c.part);
    rig.chip->SetFsb(c.mhz);
    EXPECT_EQ(Differences(rig.file.regs, With(rig.preset, c.changed)), "")
        << c.part->name << " at " << Mhz(c.mhz);
  }
}

enum class Dog { kTime40, kTime3, kOn, kOff };
const char* const kDogNames[] = {"time 40 s", "time 3 s", "on", "off"};
struct DogCase {
  const Part* part;
  Dog action;
  Bytes changed;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> ports;
  Bytes before = {};  // over the part's preset
};

// ICS hubs: register 9 = s * 1000 / 290, register 10 bits 5-6. Cypress byte mode:
// W bits 1-5 the count, bit 0 the 2.5 s unit (else 150 ms); register 9 |= 0x16 or = 0x04.
const DogCase kDogCases[] = {
    {&kIcs950218, Dog::kTime40, {{9, 0x89}}, {}},
    {&kIcs950218, Dog::kOn, {{10, 0x65}}, {}},
    {&kIcs950218, Dog::kOff, {{10, 0x25}}, {}, {{10, 0x65}}},  // bit 6 alone
    {&kIcs94228, Dog::kTime40, {{4, 0x7F}}, {}},
    {&kIcs94228, Dog::kOn, {{4, 0xFF}}, {}},
    {&kIcs94228, Dog::kOff, {{4, 0x44}}, {}},
    {&kW312, Dog::kTime40, {{4, 0xE1}}, {}},
    {&kW312, Dog::kTime3, {{4, 0xE8}}, {}},
    {&kW312, Dog::kOn, {{9, 0x57}}, {}},
    {&kW312, Dog::kOff, {{9, 0x04}}, {}},
    {&kCy28405, Dog::kTime40, {{11, 0x00}}, {}},
    {&kCy28405, Dog::kOn, {{11, 0xFF}}, {}},
    {&kCy28405, Dog::kOff, {{11, 0x00}}, {}},
    {&kCy28341, Dog::kTime40, {{6, 0x00}}, {}},
    {&kCy28341, Dog::kOn, {{6, 0x0F}}, {}},
    {&kCy28341, Dog::kOff, {{6, 0x80}}, {}},
    {&kIcs950905, Dog::kTime40, {{9, 0x89}}, {}},
    {&kIcs950905, Dog::kOn, {{10, 0x65}}, {}},
    {&kIcs950905, Dog::kOff, {{10, 0x05}}, {}},
    {&kIcs950910, Dog::kTime40, {{9, 0x89}}, {}},
    {&kIcs950910, Dog::kOn, {{10, 0x65}}, {}},
    {&kIcs950910, Dog::kOff, {{10, 0x05}}, {}},
    {&kIcs9428, Dog::kTime40, {{9, 0x89}}, {}},
    {&kIcs9428, Dog::kOn, {{10, 0x65}}, {}},
    {&kIcs9428, Dog::kOff, {{10, 0x05}}, {}},
    {&kIcs952005, Dog::kTime40, {}, {{0x104A, 40}}},
    {&kIcs952005, Dog::kOn, {}, {{0x104B, 0x9F}}},
    {&kIcs952005, Dog::kOff, {}, {{0x104B, 0x1F}}},
    {&kIcs952001, Dog::kTime40, {}, {{0x104A, 40}}},
    {&kIcs952001, Dog::kOn, {}, {{0x104B, 0x9F}}},
    {&kIcs952001, Dog::kOff, {}, {{0x104B, 0x1F}}},
    {&kCy28323, Dog::kTime40, {{8, 0xE1}}, {}},  // 16 units of 2.5 s
    {&kCy28323, Dog::kTime3, {{8, 0xE8}}, {}},   // 20 units of 150 ms
    {&kCy28323, Dog::kOn, {{9, 0x57}}, {}},
    {&kCy28323, Dog::kOff, {{9, 0x04}}, {}},
    {&kCy28325, Dog::kTime40, {{4, 0xE1}}, {}},
    {&kCy28325, Dog::kTime3, {{4, 0xE8}}, {}},
    {&kCy28325, Dog::kOn, {{9, 0x57}}, {}},
    {&kCy28325, Dog::kOff, {{9, 0x04}}, {}},
    {&kCy28349, Dog::kTime40, {{8, 0x21}}, {}},  // bits 6-7 cleared in 2.5 s units
    {&kCy28349, Dog::kTime3, {{8, 0xE8}}, {}},
    {&kCy28349, Dog::kOn, {{9, 0x57}}, {}},
    {&kCy28349, Dog::kOff, {{9, 0x00}}, {}},
};

TEST(LiteralBytes, WatchdogLeavesTheseRegistersAndPorts) {
  for (const DogCase& c : kDogCases) {
    Rig rig(*c.part, c.before);
    switch (c.action) {
      case Dog::kTime40:
        rig.chip->SetWatchdogTime(40);
        break;
      case Dog::kTime3:
        rig.chip->SetWatchdogTime(3);
        break;
      case Dog::kOn:
        rig.chip->EnableWatchdog(true);
        break;
      case Dog::kOff:
        rig.chip->EnableWatchdog(false);
        break;
    }
    const std::string what = std::string(c.part->name) + " " + kDogNames[static_cast<int>(c.action)];
    EXPECT_EQ(Differences(rig.file.regs, With(rig.preset, c.changed)), "") << what;
    EXPECT_EQ(rig.PortWrites(), c.ports) << what;
  }
}

}  // namespace
}  // namespace rq::devices::testing
