#include "sim/ChipConfig.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace rq::sim {

namespace {

std::string TypeName(const toml::value& value) {
  std::ostringstream text;
  text << value.type();
  return text.str();
}

}  // namespace

std::optional<std::uint32_t> ParseRegisterKey(const std::string& text) {
  std::string_view digits(text);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

ChipConfig::ChipConfig(const toml::value& table, std::string context)
    : table_(table), context_(std::move(context)) {
  if (!table_.is_table()) {
    Fail("is not a table");
  }
}

void ChipConfig::Fail(const std::string& problem) const { throw ProfileError(context_ + ": " + problem); }

void ChipConfig::Fail(const std::string& key, const std::string& problem) const {
  throw ProfileError(context_ + ": key '" + key + "' " + problem);
}

const toml::value* ChipConfig::Find(const std::string& key) const {
  read_.insert(key);
  const auto& table = table_.as_table();
  auto found = table.find(key);
  return found != table.end() ? &found->second : nullptr;
}

bool ChipConfig::Has(const std::string& key) const { return table_.as_table().count(key) != 0; }

std::string ChipConfig::Type() const { return String("type"); }

const toml::value& ChipConfig::Value(const std::string& key) const {
  const toml::value* value = Find(key);
  if (value == nullptr) {
    Fail(key, "is missing");
  }
  return *value;
}

std::int64_t ChipConfig::Integer(const std::string& key, std::int64_t min, std::int64_t max) const {
  const toml::value& value = Value(key);
  if (!value.is_integer()) {
    Fail(key, "must be an integer, not " + TypeName(value));
  }
  const std::int64_t number = value.as_integer();
  if (number < min || number > max) {
    Fail(key,
         "is " + std::to_string(number) + ", outside " + std::to_string(min) + ".." + std::to_string(max));
  }
  return number;
}

std::int64_t ChipConfig::Integer(const std::string& key, std::int64_t min, std::int64_t max,
                                 std::int64_t fallback) const {
  return Find(key) != nullptr ? Integer(key, min, max) : fallback;
}

double ChipConfig::Number(const std::string& key, double min, double max) const {
  const toml::value& value = Value(key);
  double number = 0.0;
  if (value.is_integer()) {
    number = static_cast<double>(value.as_integer());
  } else if (value.is_floating()) {
    number = value.as_floating();
  } else {
    Fail(key, "must be a number, not " + TypeName(value));
  }
  if (!std::isfinite(number) || number < min || number > max) {
    std::ostringstream text;
    text << "is " << number << ", outside " << min << ".." << max;
    Fail(key, text.str());
  }
  return number;
}

double ChipConfig::Number(const std::string& key, double min, double max, double fallback) const {
  return Find(key) != nullptr ? Number(key, min, max) : fallback;
}

std::string ChipConfig::String(const std::string& key) const {
  const toml::value& value = Value(key);
  if (!value.is_string()) {
    Fail(key, "must be a string, not " + TypeName(value));
  }
  return value.as_string().str;
}

std::string ChipConfig::String(const std::string& key, const std::string& fallback) const {
  return Find(key) != nullptr ? String(key) : fallback;
}

bool ChipConfig::Boolean(const std::string& key, bool fallback) const {
  const toml::value* value = Find(key);
  if (value == nullptr) {
    return fallback;
  }
  if (!value->is_boolean()) {
    Fail(key, "must be true or false, not " + TypeName(*value));
  }
  return value->as_boolean();
}

PciLocation ChipConfig::Location(const std::string& key) const {
  const std::string text = String(key);
  try {
    return ParsePciLocation(text);
  } catch (const std::invalid_argument& error) {
    Fail(key, error.what());
  }
}

std::uint8_t ChipConfig::SmbusAddress(const std::string& key) const {
  return static_cast<std::uint8_t>(Integer(key, 0x00, 0x7F));
}

std::map<std::uint32_t, std::uint64_t> ChipConfig::RegisterTable(const std::string& key,
                                                                 std::uint32_t maxRegister,
                                                                 std::uint64_t maxValue) const {
  std::map<std::uint32_t, std::uint64_t> registers;
  const toml::value* value = Find(key);
  if (value == nullptr) {
    return registers;
  }
  if (!value->is_table()) {
    Fail(key, "must be a table of register = value, not " + TypeName(*value));
  }
  for (const auto& [name, entry] : value->as_table()) {
    const auto index = ParseRegisterKey(name);
    if (!index || *index > maxRegister) {
      Fail(key, "names register '" + name + "', not a register number up to " + std::to_string(maxRegister));
    }
    if (!entry.is_integer() || entry.as_integer() < 0 ||
        static_cast<std::uint64_t>(entry.as_integer()) > maxValue) {
      Fail(key,
           "gives register '" + name + "' a value that is not an integer in 0.." + std::to_string(maxValue));
    }
    registers[*index] = static_cast<std::uint64_t>(entry.as_integer());
  }
  return registers;
}

std::vector<std::string> ChipConfig::UnreadKeys() const {
  std::vector<std::string> unread;
  for (const auto& [key, value] : table_.as_table()) {
    if (read_.count(key) == 0) {
      unread.push_back(key);
    }
  }
  std::sort(unread.begin(), unread.end());
  return unread;
}

}  // namespace rq::sim
