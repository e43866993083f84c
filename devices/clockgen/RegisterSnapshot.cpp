#include "devices/clockgen/RegisterSnapshot.h"

#include <algorithm>

namespace rq::devices::clockgen {

unsigned RegisterSnapshot::ReadBlock(std::int32_t* buffer, std::uint8_t start, unsigned count) {
  // A count of 0 asks the chip for its own count, which only the chip can answer.
  const bool known =
      count != 0 && start + count <= blockKnown_.size() &&
      std::all_of(blockKnown_.begin() + start, blockKnown_.begin() + start + count, [](bool k) { return k; });
  if (known) {
    std::copy_n(blockRegisters_.begin() + start, count, buffer + start);
    return count;
  }
  const unsigned stored = chip_.ReadBlock(buffer, start, count);
  // A chip may give fewer bytes than asked for; none at all is a failed read.
  if (stored == 0) readFailed_ = true;
  for (unsigned i = 0; i < stored && start + i < blockKnown_.size(); ++i) {
    blockRegisters_[start + i] = buffer[start + i];
    blockKnown_[start + i] = true;
  }
  return stored;
}

bool RegisterSnapshot::ReadByte(std::uint32_t* value, std::uint8_t command) {
  const auto found = byteReads_.find(command);
  if (found != byteReads_.end()) {
    *value = found->second;
    return true;
  }
  // A failed read is not remembered: the next one asks the chip again, as before.
  if (!chip_.ReadByte(value, command)) {
    readFailed_ = true;
    return false;
  }
  byteReads_[command] = *value;
  return true;
}

unsigned RegisterSnapshot::WriteBlock(const std::int32_t* buffer, std::uint8_t start, unsigned count) {
  Forget();
  return chip_.WriteBlock(buffer, start, count);
}

void RegisterSnapshot::WriteByte(std::uint8_t value, std::uint8_t command) {
  Forget();
  chip_.WriteByte(value, command);
}

void RegisterSnapshot::Forget() {
  blockKnown_.fill(false);
  byteReads_.clear();
}

}  // namespace rq::devices::clockgen
