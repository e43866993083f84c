#include "devices/SystemFacts.h"

#include <cstdlib>
#include <optional>

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

SmbusLock::SmbusLock() : sem_(CurrentSystem().busSemaphore) {
  if (sem_ != nullptr) sem_->Acquire();
}

SmbusLock::~SmbusLock() {
  if (sem_ != nullptr) sem_->Release();
}

}  // namespace rq::devices
