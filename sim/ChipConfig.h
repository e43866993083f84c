#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <toml.hpp>
#include <vector>

#include "sim/Pci.h"

namespace rq::sim {

// A profile problem, already worded with the file and the chip it concerns.
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One [[chip]] table of a profile, read through typed accessors. Every accessor
// remembers the key it read; once the factory has run, the board rejects any key
// nobody read, so a misspelt key is an error rather than a silently ignored
// setting. Errors name the file, the chip and the key. It refers to the parsed
// profile: valid only during the factory call, so copy out what a chip keeps.
class ChipConfig {
 public:
  // `context` names the chip for messages, e.g. "default.toml: chip 3 (ics950218)".
  ChipConfig(const toml::value& table, std::string context);

  const std::string& Context() const { return context_; }
  std::string Type() const;
  bool Has(const std::string& key) const;

  // Integers within [min, max]; the forms with a fallback make the key optional.
  std::int64_t Integer(const std::string& key, std::int64_t min, std::int64_t max) const;
  std::int64_t Integer(const std::string& key, std::int64_t min, std::int64_t max,
                       std::int64_t fallback) const;
  // A number, integer or floating point, within [min, max].
  double Number(const std::string& key, double min, double max) const;
  double Number(const std::string& key, double min, double max, double fallback) const;
  std::string String(const std::string& key) const;
  std::string String(const std::string& key, const std::string& fallback) const;
  bool Boolean(const std::string& key, bool fallback) const;
  // "bus:device.function"
  PciLocation Location(const std::string& key = "location") const;
  // A 7-bit SMBus address.
  std::uint8_t SmbusAddress(const std::string& key = "address") const;
  // A table of register = value pairs, e.g. `bytes = { 0xE7 = 0x21 }`: register
  // keys are decimal or 0x-prefixed hex within [0, maxRegister], values within
  // [0, maxValue]. Absent means empty.
  std::map<std::uint32_t, std::uint64_t> RegisterTable(const std::string& key, std::uint32_t maxRegister,
                                                       std::uint64_t maxValue) const;
  // Raw access to one key for shapes the accessors above do not cover.
  const toml::value& Value(const std::string& key) const;

  [[noreturn]] void Fail(const std::string& problem) const;
  [[noreturn]] void Fail(const std::string& key, const std::string& problem) const;

  // Keys present in the table that no accessor read, sorted.
  std::vector<std::string> UnreadKeys() const;

 private:
  const toml::value* Find(const std::string& key) const;

  const toml::value& table_;
  std::string context_;
  mutable std::set<std::string> read_;
};

// Parses a register number written as a TOML key: decimal or 0x-prefixed hex.
std::optional<std::uint32_t> ParseRegisterKey(const std::string& text);

}  // namespace rq::sim
