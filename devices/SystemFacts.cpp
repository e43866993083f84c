#include "devices/SystemFacts.h"

#include "platform/Clock.h"
#include "platform/ProfileFile.h"

namespace rq::devices {

SystemFacts& CurrentSystem() {
  static SystemFacts facts;
  return facts;
}

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
  return platform::GetPrivateProfileInt(facts.boardModel, key, defaultValue, facts.settingsFile);
}

std::string BoardSettingString(const std::string& key) {
  const SystemFacts& facts = CurrentSystem();
  return platform::GetPrivateProfileString(facts.boardModel, key, "", facts.settingsFile);
}

SmbusLock::SmbusLock() : sem_(CurrentSystem().busSemaphore) {
  if (sem_ != nullptr) sem_->Acquire();
}

SmbusLock::~SmbusLock() {
  if (sem_ != nullptr) sem_->Release();
}

}  // namespace rq::devices
