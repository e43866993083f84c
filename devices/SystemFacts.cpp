#include "devices/SystemFacts.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "hw/I2CIo.h"
#include "hw/IOInterface.h"
#include "platform/Clock.h"
#include "platform/ProfileFile.h"

namespace rq::devices {

SystemFacts& CurrentSystem() {
  static SystemFacts facts;
  return facts;
}

namespace {

// The stand-in for a key the settings file lacks, if there is one.
std::optional<std::string> BoardDefault(const SystemFacts& facts, const std::string& key) {
  if (facts.boardDefaults.empty()) return std::nullopt;
  // A marker no real value holds tells a missing key from an empty one.
  constexpr const char* kAbsent = "\x01";
  if (platform::GetPrivateProfileString(facts.boardModel, key, kAbsent, facts.settingsFile) != kAbsent)
    return std::nullopt;
  for (const auto& [name, value] : facts.boardDefaults)
    if (name == key) return value;
  return std::nullopt;
}

}  // namespace

void SleepMs(std::uint32_t ms) {
  const SystemFacts& facts = CurrentSystem();
  if (facts.sleep) {
    facts.sleep(ms);
  } else {
    platform::Sleep(ms);
  }
}

int BoardSettingInt(const std::string& key, int defaultValue) {
  const SystemFacts& facts = CurrentSystem();
  if (const auto value = BoardDefault(facts, key)) return std::atoi(value->c_str());
  return platform::GetPrivateProfileInt(facts.boardModel, key, defaultValue, facts.settingsFile);
}

std::string BoardSettingString(const std::string& key) {
  const SystemFacts& facts = CurrentSystem();
  if (const auto value = BoardDefault(facts, key)) return *value;
  return platform::GetPrivateProfileString(facts.boardModel, key, "", facts.settingsFile);
}

namespace {

// The keys this thread holds, with how often each was opened and whether the
// driver's lock was had; the process semaphore is held while any is open.
struct OpenHold {
  std::uint32_t key;
  unsigned count;
  bool held;
};
thread_local std::vector<OpenHold> openHolds;
thread_local platform::BusSemaphore* heldSemaphore = nullptr;

// The key that stands for "no bus to share": only the process semaphore is taken.
constexpr std::uint32_t kNoBus = 0;

OpenHold* FindHold(std::uint32_t key) {
  for (OpenHold& hold : openHolds)
    if (hold.key == key) return &hold;
  return nullptr;
}

}  // namespace

BusHold::BusHold(std::uint32_t key) : key_(key) {
  if (OpenHold* joined = FindHold(key)) {
    ++joined->count;
    held_ = joined->held;
    return;
  }
  if (openHolds.empty()) {
    heldSemaphore = CurrentSystem().busSemaphore;
    if (heldSemaphore != nullptr) heldSemaphore->Acquire();
  }
  held_ = key == kNoBus || hw::IOInterface().TakeBusLock(key);
  openHolds.push_back({key, 1, held_});
}

BusHold::~BusHold() {
  OpenHold* hold = FindHold(key_);
  if (hold == nullptr || --hold->count > 0) return;
  if (hold->held && key_ != kNoBus) hw::IOInterface().GiveBusLock(key_);
  std::erase_if(openHolds, [this](const OpenHold& open) { return open.key == key_; });
  if (openHolds.empty() && heldSemaphore != nullptr) {
    heldSemaphore->Release();
    heldSemaphore = nullptr;
  }
}

SmbusLock::SmbusLock() : BusHold(hw::ProcessSmbusHost().base) {}

}  // namespace rq::devices
