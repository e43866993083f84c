// The GPIO blocks of the six south bridges whose pins boards wire to the core and
// memory regulators.
#include "sim/gpiovolt/GpioBlock.h"

#include <sstream>

#include "sim/Board.h"

namespace rq::sim {

namespace {

// ICH: 64 bytes of GPIO registers; the level registers read back the latch of an
// output pin. GP_LVL bits 23:16 at 0x0E, GP_LVL2 bits 39:32 at 0x38.
constexpr std::uint16_t kIchSize = 0x40;
constexpr std::uint8_t kIchLevel16 = 0x0E;
constexpr std::uint8_t kIchLevel32 = 0x38;
// VIA power-management I/O (128 bytes): general-purpose inputs at 0x48-0x4B, the
// output latches at 0x4C-0x4F.
constexpr std::uint16_t kViaSize = 0x80;
constexpr std::uint8_t kViaFirstInput = 0x48;
constexpr std::uint8_t kViaInputCount = 4;
constexpr std::uint8_t kViaMemoryIn = 0x4A;
constexpr std::uint8_t kViaCoreIn = 0x4B;
constexpr std::uint8_t kViaMemoryOut = 0x4E;
constexpr std::uint8_t kViaCoreOut = 0x4F;
// SiS ACPI I/O (128 bytes): GPIO levels at 0x64 and 0x65, read back as written.
constexpr std::uint16_t kSisSize = 0x80;
constexpr std::uint8_t kSisGpioLow = 0x64;
constexpr std::uint8_t kSisGpioHigh = 0x65;

constexpr GpioBlock::Pin Same(std::uint8_t offset, int bit) { return {offset, offset, bit}; }

constexpr GpioBlock::Layout kIch2 = {"ich2-gpio",
                                     kIchSize,
                                     {Same(kIchLevel16, 2), Same(kIchLevel16, 3)},
                                     {Same(kIchLevel16, 2), Same(kIchLevel16, 3)},
                                     0,
                                     0};
constexpr GpioBlock::Layout kIch4 = {"ich4-gpio",
                                     kIchSize,
                                     {Same(kIchLevel32, 0), Same(kIchLevel32, 1)},
                                     {Same(kIchLevel32, 2), Same(kIchLevel32, 3)},
                                     0,
                                     0};
constexpr GpioBlock::Layout kIch5 = {"ich5-gpio",
                                     kIchSize,
                                     {Same(kIchLevel16, 5), Same(kIchLevel32, 0)},
                                     {Same(kIchLevel16, 3), Same(kIchLevel16, 4)},
                                     0,
                                     0};
constexpr GpioBlock::PinPair kViaCore = {{kViaCoreOut, kViaCoreIn, 4}, {kViaCoreOut, kViaCoreIn, 5}};
constexpr GpioBlock::PinPair kViaMemory = {{kViaMemoryOut, kViaMemoryIn, 6},
                                           {kViaMemoryOut, kViaMemoryIn, 7}};
constexpr GpioBlock::Layout kVt8235 = {"vt8235-gpio", kViaSize,       kViaCore,
                                       kViaMemory,    kViaFirstInput, kViaInputCount};
constexpr GpioBlock::Layout kVt8237 = {"vt8237-gpio", kViaSize,       kViaCore,
                                       kViaMemory,    kViaFirstInput, kViaInputCount};
constexpr GpioBlock::Layout kSis962 = {"sis962-gpio",
                                       kSisSize,
                                       {Same(kSisGpioHigh, 1), Same(kSisGpioHigh, 2)},
                                       {Same(kSisGpioLow, 7), Same(kSisGpioHigh, 6)},
                                       0,
                                       0};

// Where the south bridge answers and which configuration word holds the base.
struct Placement {
  PciLocation identity;
  std::uint16_t vendor;
  std::uint16_t device;
  PciLocation baseFunction;
  std::uint8_t baseWord;
};

constexpr std::uint16_t kIoSpaceBit = 0x0001;
constexpr int kLevels = 4;
constexpr int kHighestLevel = kLevels - 1;

std::array<double, kLevels> LevelTable(const ChipConfig& config, const std::string& key, double min,
                                       double max) {
  const toml::value& value = config.Value(key);
  if (!value.is_array() || value.as_array().size() != kLevels)
    config.Fail(key, "needs four numbers, one per level");
  std::array<double, kLevels> table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    const toml::value& entry = value.as_array()[i];
    if (!entry.is_integer() && !entry.is_floating()) config.Fail(key, "needs four numbers, one per level");
    table[i] = entry.is_integer() ? static_cast<double>(entry.as_integer()) : entry.as_floating();
    if (!(table[i] >= min && table[i] <= max)) {
      std::ostringstream problem;
      problem << "entry " << i << " must lie within [" << min << ", " << max << "]";
      config.Fail(key, problem.str());
    }
  }
  return table;
}

void SetPins(std::vector<std::uint8_t>& registers, const GpioBlock::PinPair& pins, int level) {
  for (const auto& [pin, on] :
       {std::pair{pins.low, (level & 1) != 0}, std::pair{pins.high, (level & 2) != 0}}) {
    const auto mask = static_cast<std::uint8_t>(1U << pin.bit);
    registers[pin.latch] =
        static_cast<std::uint8_t>(on ? registers[pin.latch] | mask : registers[pin.latch] & ~mask);
  }
}

std::uint16_t BaseFromConfiguration(const ChipConfig& config, Board& board, const Placement& placement) {
  const PciFunction* bridge = board.Pci().Find(placement.identity);
  if (bridge == nullptr || bridge->VendorId() != placement.vendor || bridge->DeviceId() != placement.device) {
    std::ostringstream problem;
    problem << "needs the south bridge " << std::hex << placement.vendor << ':' << placement.device << " at "
            << FormatPciLocation(placement.identity) << ", listed before it";
    config.Fail(problem.str());
  }
  const PciFunction* holder = board.Pci().Find(placement.baseFunction);
  if (holder == nullptr) config.Fail("needs the PCI function " + FormatPciLocation(placement.baseFunction));
  const auto base = static_cast<std::uint16_t>(holder->ReadConfigWord(placement.baseWord) & ~kIoSpaceBit);
  if (base == 0) {
    std::ostringstream problem;
    problem << "the GPIO base word 0x" << std::hex << static_cast<int>(placement.baseWord) << " of "
            << FormatPciLocation(placement.baseFunction) << " is not set";
    config.Fail(problem.str());
  }
  // The block sits where the configuration says; a profile that also names a base
  // must agree with it.
  if (config.Has("base") && config.Integer("base", 0, 0xFFFF) != base) {
    std::ostringstream problem;
    problem << "disagrees with the base 0x" << std::hex << base << " the PCI configuration gives";
    config.Fail("base", problem.str());
  }
  return base;
}

void BuildGpioBlock(const ChipConfig& config, Board& board, const GpioBlock::Layout& layout,
                    const Placement& placement) {
  const std::uint16_t base = BaseFromConfiguration(config, board, placement);
  if (base + layout.size > 0x10000) config.Fail("the GPIO block does not fit below 0x10000");
  GpioBlock::Wiring wiring;
  wiring.corePercent = LevelTable(config, "core_percent", -50.0, 50.0);
  const bool sharedPins =
      layout.core.low.latch == layout.memory.low.latch && layout.core.low.bit == layout.memory.low.bit;
  if (config.Has("memory_volts")) wiring.memoryVolts = LevelTable(config, "memory_volts", 1.0, 4.0);
  const int coreLevel = static_cast<int>(config.Integer("core_level", 0, kHighestLevel, kHighestLevel));
  int memoryLevel = coreLevel;
  if (!sharedPins && wiring.memoryVolts) {
    memoryLevel = static_cast<int>(config.Integer("memory_level", 0, kHighestLevel));
  } else if (config.Has("memory_level")) {
    config.Fail("memory_level",
                sharedPins ? "this south bridge's memory pins are its core pins: core_level sets both"
                           : "only a board with memory_volts has memory pins");
  }
  wiring.powerOn.assign(layout.size, 0);
  for (const auto& [offset, value] : config.RegisterTable("bytes", layout.size - 1U, 0xFF)) {
    wiring.powerOn[offset] = static_cast<std::uint8_t>(value);
  }
  SetPins(wiring.powerOn, layout.core, coreLevel);
  if (!sharedPins) SetPins(wiring.powerOn, layout.memory, memoryLevel);
  // Input registers show the pins the outputs drive.
  for (const GpioBlock::Pin& pin :
       {layout.core.low, layout.core.high, layout.memory.low, layout.memory.high}) {
    const auto mask = static_cast<std::uint8_t>(1U << pin.bit);
    wiring.powerOn[pin.input] =
        static_cast<std::uint8_t>((wiring.powerOn[pin.input] & ~mask) | (wiring.powerOn[pin.latch] & mask));
  }
  board.Own(std::make_unique<GpioBlock>(board, layout, base, std::move(wiring)));
}

constexpr Placement kIchPlacement(std::uint16_t device) {
  return {{0, 31, 0}, 0x8086, device, {0, 31, 0}, 0x58};
}
constexpr Placement kViaPlacement(std::uint16_t device) {
  return {{0, 17, 0}, 0x1106, device, {0, 17, 0}, 0x88};
}
constexpr Placement kSisPlacement = {{0, 2, 0}, 0x1039, 0x0008, {0, 0, 0}, 0x68};

}  // namespace

GpioBlock::GpioBlock(Board& board, const Layout& layout, std::uint16_t base, Wiring wiring)
    : board_(board), layout_(layout), base_(base), wiring_(std::move(wiring)), registers_(wiring_.powerOn) {
  board_.Ports().Claim(base_, static_cast<std::uint16_t>(base_ + layout_.size - 1), *this);
}

GpioBlock::~GpioBlock() { board_.Ports().Release(*this); }

int GpioBlock::PinLevel(const std::vector<std::uint8_t>& registers, const PinPair& pins) {
  return ((registers[pins.low.latch] >> pins.low.bit) & 1) +
         2 * ((registers[pins.high.latch] >> pins.high.bit) & 1);
}

bool GpioBlock::IsInput(std::uint8_t offset) const {
  return offset >= layout_.firstInput && offset < layout_.firstInput + layout_.inputCount;
}

void GpioBlock::PowerOnReset() {
  registers_ = wiring_.powerOn;
  drivenCore_.reset();
  drivenMemory_.reset();
}

std::uint8_t GpioBlock::In(std::uint16_t port) {
  const auto offset = static_cast<std::uint8_t>(port - base_);
  std::uint8_t value = registers_[offset];
  // An input register reads the pins themselves, which the output latches drive.
  for (const Pin& pin : {layout_.core.low, layout_.core.high, layout_.memory.low, layout_.memory.high}) {
    if (pin.input != offset || pin.latch == offset) continue;
    const auto mask = static_cast<std::uint8_t>(1U << pin.bit);
    value = static_cast<std::uint8_t>((value & ~mask) | (registers_[pin.latch] & mask));
  }
  return value;
}

void GpioBlock::Out(std::uint16_t port, std::uint8_t value) {
  const auto offset = static_cast<std::uint8_t>(port - base_);
  if (IsInput(offset)) return;
  registers_[offset] = value;
  DriveSupplies();
}

void GpioBlock::DriveSupplies() {
  Analog& analog = board_.Analogue();
  const int core = CoreLevel();
  if (drivenCore_ != core) {
    drivenCore_ = core;
    const double vid = analog.Settings().nominal[static_cast<std::size_t>(Supply::VCore)];
    analog.OverrideCore(vid * (1.0 + wiring_.corePercent[static_cast<std::size_t>(core)] / 100.0));
  }
  const int memory = MemoryLevel();
  if (wiring_.memoryVolts && drivenMemory_ != memory) {
    drivenMemory_ = memory;
    analog.OverrideMemory((*wiring_.memoryVolts)[static_cast<std::size_t>(memory)]);
  }
}

nlohmann::json GpioBlock::Inspect() const {
  nlohmann::json state = {{"base", base_}, {"coreLevel", CoreLevel()}, {"corePercent", wiring_.corePercent}};
  if (wiring_.memoryVolts) {
    state["memoryLevel"] = MemoryLevel();
    state["memoryVolts"] = *wiring_.memoryVolts;
  }
  nlohmann::json registers = nlohmann::json::object();
  for (const Pin& pin : {layout_.core.low, layout_.core.high, layout_.memory.low, layout_.memory.high}) {
    char name[8];
    std::snprintf(name, sizeof name, "0x%02X", pin.latch);
    registers[name] = registers_[pin.latch];
  }
  state["levelRegisters"] = std::move(registers);
  return state;
}

RQ_SIM_CHIP("ich2-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kIch2, kIchPlacement(0x2440));
});
RQ_SIM_CHIP("ich4-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kIch4, kIchPlacement(0x24C0));
});
RQ_SIM_CHIP("ich5-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kIch5, kIchPlacement(0x24D0));
});
RQ_SIM_CHIP("vt8235-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kVt8235, kViaPlacement(0x3177));
});
RQ_SIM_CHIP("vt8237-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kVt8237, kViaPlacement(0x3227));
});
RQ_SIM_CHIP("sis962-gpio", [](const ChipConfig& config, Board& board) {
  BuildGpioBlock(config, board, kSis962, kSisPlacement);
});

}  // namespace rq::sim
