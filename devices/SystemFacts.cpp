#include "devices/SystemFacts.h"

namespace rq::devices {

SystemFacts& CurrentSystem() {
  static SystemFacts facts;
  return facts;
}

SmbusLock::SmbusLock() : sem_(CurrentSystem().busSemaphore) {
  if (sem_ != nullptr) sem_->Acquire();
}

SmbusLock::~SmbusLock() {
  if (sem_ != nullptr) sem_->Release();
}

}  // namespace rq::devices
