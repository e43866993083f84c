#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/Analog.h"
#include "sim/Chip.h"
#include "sim/Pci.h"
#include "sim/PortSpace.h"

namespace rq::sim {

class Board;

// A south bridge's GPIO register block in I/O space, at the base its PCI
// configuration holds. Two pins select one of four core steps and two select one
// of four memory voltages; the board's regulators follow the pins.
class GpioBlock final : public Chip, public PortDevice, public SupplyDriver {
 public:
  // A pin as the registers show it: the output latch that drives it and the
  // register it is read back from (the same register on chips with one).
  struct Pin {
    std::uint8_t latch;
    std::uint8_t input;
    int bit;
  };
  struct PinPair {
    Pin low;
    Pin high;
  };
  struct Layout {
    const char* type;
    std::uint16_t size;
    PinPair core;
    PinPair memory;
    // Input registers: writes to them are lost.
    std::uint8_t firstInput;
    std::uint8_t inputCount;
  };
  struct Wiring {
    std::array<double, 4> corePercent;
    std::optional<std::array<double, 4>> memoryVolts;
    std::vector<std::uint8_t> powerOn;  // the whole block, pins at their power-on levels
  };

  GpioBlock(Board& board, const Layout& layout, std::uint16_t base, Wiring wiring);
  ~GpioBlock() override;

  std::string Name() const override { return layout_.type; }
  void PowerOnReset() override;
  nlohmann::json Inspect() const override;
  std::uint8_t In(std::uint16_t port) override;
  void Out(std::uint16_t port, std::uint8_t value) override;
  void DriveSupplies() override;

  std::uint16_t Base() const { return base_; }
  int CoreLevel() const { return Level(layout_.core); }
  int MemoryLevel() const { return Level(layout_.memory); }

  static int PinLevel(const std::vector<std::uint8_t>& registers, const PinPair& pins);

 private:
  int Level(const PinPair& pins) const { return PinLevel(registers_, pins); }
  bool IsInput(std::uint8_t offset) const;

  Board& board_;
  Layout layout_;
  std::uint16_t base_;
  Wiring wiring_;
  std::vector<std::uint8_t> registers_;
  std::optional<int> drivenCore_;
  std::optional<int> drivenMemory_;
};

}  // namespace rq::sim
