#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <toml.hpp>
#include <vector>

#include "sim/Analog.h"
#include "sim/Chip.h"
#include "sim/ChipConfig.h"
#include "sim/Cpu.h"
#include "sim/Pci.h"
#include "sim/PortSpace.h"
#include "sim/Smbus.h"
#include "sim/TimeSource.h"
#include "sim/Watchdog.h"

namespace rq::sim {

// The BIOS ROM, mapped at 0xF0000-0xFFFFF; the model string sits at 0xFE0C1.
class BiosRom : public Chip {
 public:
  static constexpr std::uint32_t kBase = 0xF0000;
  static constexpr std::uint32_t kSize = 0x10000;
  static constexpr std::uint32_t kModelStringAddress = 0xFE0C1;
  // Readers take 200 bytes and cut at the first zero: the string and its
  // terminator must fit in those.
  static constexpr std::size_t kMaxModelStringLength = 199;

  // Throws std::invalid_argument when the string is too long or holds a zero
  // byte, or the date is not 8 characters ("MM/DD/YY").
  explicit BiosRom(const std::string& modelString, const std::string& date = "08/15/03");
  const std::string& ModelString() const { return modelString_; }
  std::string Name() const override { return "bios"; }
  void PowerOnReset() override {}
  nlohmann::json Inspect() const override;
  // False when [address, address + out.size()) leaves the ROM.
  bool Read(std::uint32_t address, std::span<std::uint8_t> out) const;

 private:
  std::vector<std::uint8_t> image_;
  std::string modelString_;
  std::string date_;
};

// A whole virtual mainboard, built from a profile. It owns every chip. All access
// from outside goes through Lock(): the machine is one state machine.
class Board {
 public:
  // Parses a profile (TOML text); throws std::runtime_error with a clear message on
  // a malformed profile or an unknown chip type.
  static std::unique_ptr<Board> FromProfileText(const std::string& text, TimeSource& time,
                                                const std::string& origin = "<profile>");
  static std::unique_ptr<Board> FromProfileFile(const std::string& path, TimeSource& time);
  // One of the boards shipped with the program, by name ("default", ...).
  static std::unique_ptr<Board> Shipped(const std::string& name, TimeSource& time);
  // "default" first, then the others by name.
  static std::vector<std::string> ShippedNames();

  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  const std::string& ProfileName() const { return name_; }
  const std::string& Description() const { return description_; }
  // The FSB the CPU runs at after a reset until a clock generator sets its own.
  double PowerOnFsb() const { return powerOnFsb_; }
  PortSpace& Ports() { return ports_; }
  PciBus& Pci() { return pci_; }
  SmbusBus& Smbus() { return smbus_; }
  Cpu& Processor() { return *cpu_; }
  Watchdog& Dog() { return *watchdog_; }
  BiosRom& Bios() { return *bios_; }
  TimeSource& Time() { return time_; }
  // Supplies, temperatures and fans: what the monitor chips measure.
  Analog& Analogue() { return *analog_; }

  // Takes ownership of a chip so that it is reset and inspected with the board.
  template <typename T>
  T& Own(std::unique_ptr<T> chip) {
    T& ref = *chip;
    chips_.push_back(std::move(chip));
    return ref;
  }

  // The first owned chip of type T, or null (tests and inspection).
  template <typename T>
  T* Find() const {
    for (const auto& chip : chips_) {
      if (auto* found = dynamic_cast<T*>(chip.get())) {
        return found;
      }
    }
    return nullptr;
  }
  std::vector<const Chip*> Chips() const;
  // Chips the profile names whose type has no model yet (see PlannedChipTypes).
  const std::vector<nlohmann::json>& PlannedChips() const { return planned_; }

  // Advances time-driven parts (the watchdog); the daemon calls it periodically.
  void Tick();

  // The machine stops answering (an FSB beyond what the CPU survives).
  void Hang();
  bool Hung() const { return hung_; }
  // Power-on reset of every part; the machine runs again. Listeners learn of it
  // (the daemon ends every program of the machine).
  void PowerOnReset();
  std::uint64_t ResetCount() const { return resets_; }
  void OnReset(std::function<void()> listener) {
    auto lock = Lock();
    resetListeners_.push_back(std::move(listener));
  }

  nlohmann::json Inspect() const;

 private:
  Board(std::string name, TimeSource& time);
  friend class BoardBuilder;
  // Everything back to power-on state, without counting a reset or telling anyone.
  void ResetParts();

  mutable std::recursive_mutex mutex_;
  std::string name_;
  std::string description_;
  double powerOnFsb_ = 0.0;
  TimeSource& time_;
  PortSpace ports_;
  PciBus pci_;
  SmbusBus smbus_;
  std::unique_ptr<Cpu> cpu_;
  std::unique_ptr<Watchdog> watchdog_;
  std::unique_ptr<Analog> analog_;
  BiosRom* bios_ = nullptr;
  std::vector<std::unique_ptr<Chip>> chips_;
  std::vector<nlohmann::json> planned_;
  bool hung_ = false;
  std::uint64_t resets_ = 0;
  std::vector<std::function<void()>> resetListeners_;
};

// Chip registration: each chip type of a profile ("ich5-smbus", "ics950218", ...)
// names a factory that builds the chip from its profile table and wires it into
// the board. A chip registers itself in its own source file:
//   RQ_SIM_CHIP("pci-function", BuildPciFunction);
// A factory that takes a ChipConfig gets typed accessors and has every key it did
// not read rejected as unknown; one that takes the raw table checks its keys itself.
// Exceptions a factory throws come out of the loader prefixed with file and chip.
using ChipFactory = std::function<void(const toml::value& config, Board& board)>;
using CheckedChipFactory = std::function<void(const ChipConfig& config, Board& board)>;

struct ChipRegistrar {
  ChipRegistrar(const char* type, ChipFactory factory);
  ChipRegistrar(const char* type, CheckedChipFactory factory);
};

// Types with a registered factory, sorted.
std::vector<std::string> RegisteredChipTypes();
// Chip types that profiles may already name although nobody models them yet: a
// [[chip]] of such a type is kept as planned (listed by Inspect) instead of
// failing the board. Once a factory registers the type, the chip is built.
std::span<const char* const> PlannedChipTypes();

#define RQ_SIM_CONCAT_INNER(a, b) a##b
#define RQ_SIM_CONCAT(a, b) RQ_SIM_CONCAT_INNER(a, b)
// Variadic so that a lambda with commas in its body can stand as the factory.
#define RQ_SIM_CHIP(type, ...) \
  static const ::rq::sim::ChipRegistrar RQ_SIM_CONCAT(rqSimChipRegistrar, __LINE__)(type, __VA_ARGS__)

}  // namespace rq::sim
