#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "driver/RealHardwareBackend.h"

namespace rq::driver {

// What a write to one register of a granted block may carry.
enum class WriteRule : std::uint8_t {
  kAny,
  kSlaveAddress,    // an SMBus slave the program drives, read or write form
  kStartsTransfer,  // a value with any of `bits` set starts a transfer: only while the
                    // block's slave-address register holds such a slave
  kOneOf,           // `bits` or `other`
  kSetsOnly,        // differs from what the register holds only in `bits`
};

// Registers `first`..`last` (offsets into the block, or the register indexes
// behind an index/data pair) and the rule their writes follow.
struct RegisterWrite {
  std::uint8_t first;
  std::uint8_t last;
  WriteRule rule = WriteRule::kAny;
  std::uint8_t bits = 0;
  std::uint8_t other = 0;
};

// Every write a block takes; a register it does not name takes none.
struct WriteTable {
  std::span<const RegisterWrite> registers;
  // An index/data pair: the index port takes any register index (reading is
  // harmless), the data port the writes the table names for the selected index.
  bool indexedPair = false;
  std::uint8_t addressOffset = 0;  // where kStartsTransfer reads the slave address
};

// The rule for register `reg`, or null when the program never writes it.
const RegisterWrite* FindRegister(const WriteTable& table, std::uint8_t reg);

// Whether `value` passes `rule`; `why` says why not. `content` reads what the
// register holds now, `slave` what the block's slave-address register holds:
// each is read only when the rule needs it.
bool PassesRule(const RegisterWrite& rule, std::uint8_t value, const std::function<std::uint8_t()>& content,
                const std::function<std::uint8_t()>& slave, std::string& why);

// Whether the program drives the SMBus slave `address` (8-bit form, read bit
// ignored); `why` says why not. A memory module's SPD EEPROM never passes.
bool SmbusSlaveAllowed(std::uint8_t address, std::string& why);

// The write tables of the SMBus hosts and GPIO blocks the program drives.
extern const WriteTable kIchStyleSmbusWrites;  // Intel ICH and VIA hosts share the layout
extern const WriteTable kNvidiaSmbusWrites;
extern const WriteTable kSisSmbusWrites;
extern const WriteTable kIntelGpioWrites;
extern const WriteTable kViaGpioWrites;
extern const WriteTable kSisGpioWrites;

// The fixed blocks: each grants its ports only when its chip answers its
// identification, read without changing any chip state.
struct FixedBlock {
  PortRange range;
  // The block's writes, or null when nothing there answers.
  const WriteTable* (*identify)(PortIo& ports, std::uint16_t first);
};
std::span<const FixedBlock> FixedBlocks();

}  // namespace rq::driver
