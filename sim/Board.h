#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <toml.hpp>

#include "sim/Chip.h"
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

  explicit BiosRom(const std::string& modelString);
  std::string Name() const override { return "bios"; }
  void PowerOnReset() override {}
  nlohmann::json Inspect() const override;
  // False when [address, address + out.size()) leaves the ROM.
  bool Read(std::uint32_t address, std::span<std::uint8_t> out) const;

 private:
  std::vector<std::uint8_t> image_;
  std::string modelString_;
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
  static std::vector<std::string> ShippedNames();

  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  const std::string& ProfileName() const { return name_; }
  PortSpace& Ports() { return ports_; }
  PciBus& Pci() { return pci_; }
  SmbusBus& Smbus() { return smbus_; }
  Cpu& Processor() { return *cpu_; }
  Watchdog& Dog() { return *watchdog_; }
  BiosRom& Bios() { return *bios_; }
  TimeSource& Time() { return time_; }

  // Takes ownership of a chip so that it is reset and inspected with the board.
  template <typename T>
  T& Own(std::unique_ptr<T> chip) {
    T& ref = *chip;
    chips_.push_back(std::move(chip));
    return ref;
  }

  // Advances time-driven parts (the watchdog); the daemon calls it periodically.
  void Tick();

  // The machine stops answering (an FSB beyond what the CPU survives).
  void Hang();
  bool Hung() const { return hung_; }
  // Power-on reset of every part; the machine runs again. Listeners learn of it
  // (the daemon ends every program of the machine).
  void PowerOnReset();
  std::uint64_t ResetCount() const { return resets_; }
  void OnReset(std::function<void()> listener) { resetListeners_.push_back(std::move(listener)); }

  nlohmann::json Inspect() const;

 private:
  Board(std::string name, TimeSource& time);
  friend class BoardBuilder;

  std::recursive_mutex mutex_;
  std::string name_;
  TimeSource& time_;
  PortSpace ports_;
  PciBus pci_;
  SmbusBus smbus_;
  std::unique_ptr<Cpu> cpu_;
  std::unique_ptr<Watchdog> watchdog_;
  BiosRom* bios_ = nullptr;
  std::vector<std::unique_ptr<Chip>> chips_;
  bool hung_ = false;
  std::uint64_t resets_ = 0;
  std::vector<std::function<void()>> resetListeners_;
};

// Chip registration: each chip type of a profile ("ich5-smbus", "ics950218", ...)
// names a factory that builds the chip from its profile table and wires it into
// the board. A chip registers itself in its own source file:
//   RQ_SIM_CHIP("pci-function", BuildPciFunction);
using ChipFactory = std::function<void(const toml::value& config, Board& board)>;

struct ChipRegistrar {
  ChipRegistrar(const char* type, ChipFactory factory);
};

#define RQ_SIM_CONCAT_INNER(a, b) a##b
#define RQ_SIM_CONCAT(a, b) RQ_SIM_CONCAT_INNER(a, b)
#define RQ_SIM_CHIP(type, factory) \
  static const ::rq::sim::ChipRegistrar RQ_SIM_CONCAT(rqSimChipRegistrar, __LINE__)(type, factory)

}  // namespace rq::sim
