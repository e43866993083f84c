#include "sim/PortSpace.h"

#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string>

namespace rq::sim {

namespace {

constexpr std::uint8_t kFloatingBus = 0xFF;

std::string RangeText(std::uint16_t first, std::uint16_t last) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%04X-0x%04X", first, last);
  return text;
}

}  // namespace

void PortSpace::Claim(std::uint16_t first, std::uint16_t last, PortDevice& device) {
  if (first > last) {
    throw std::invalid_argument("empty port range " + RangeText(first, last));
  }
  // The only ranges that can overlap [first, last] are the last one starting at or
  // before `last`; ranges are disjoint, so checking that one suffices.
  auto next = ranges_.upper_bound(last);
  if (next != ranges_.begin()) {
    const auto& [prevFirst, prev] = *std::prev(next);
    if (prev.last >= first) {
      throw std::invalid_argument("ports " + RangeText(first, last) + " overlap the claimed ports " +
                                  RangeText(prevFirst, prev.last));
    }
  }
  ranges_.emplace(first, Range{last, &device});
}

void PortSpace::Release(PortDevice& device) {
  std::erase_if(ranges_, [&](const auto& entry) { return entry.second.device == &device; });
}

PortDevice* PortSpace::Find(std::uint16_t port) const {
  auto next = ranges_.upper_bound(port);
  if (next == ranges_.begin()) {
    return nullptr;
  }
  const auto& range = std::prev(next)->second;
  return port <= range.last ? range.device : nullptr;
}

std::uint8_t PortSpace::In(std::uint16_t port) {
  PortDevice* device = Find(port);
  return device != nullptr ? device->In(port) : kFloatingBus;
}

void PortSpace::Out(std::uint16_t port, std::uint8_t value) {
  if (PortDevice* device = Find(port)) {
    device->Out(port, value);
  }
}

bool PortSpace::Claimed(std::uint16_t port) const { return Find(port) != nullptr; }

}  // namespace rq::sim
