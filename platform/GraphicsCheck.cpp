#include "platform/GraphicsCheck.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>

namespace rq::platform {
namespace {

std::mutex& OverrideMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::vector<std::string>>& Override() {
  static std::optional<std::vector<std::string>> libraries;
  return libraries;
}

}  // namespace

std::vector<std::string> GraphicsLibraries() {
  std::lock_guard lock(OverrideMutex());
  if (Override()) return *Override();
  return {"libGL.so.1", "libxcb.so.1"};
}

bool GraphicsLibrariesPresent() {
  // One after the other, as the programs need all of them: the first missing one decides.
  for (const std::string& name : GraphicsLibraries()) {
    void* handle = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) return false;
    ::dlclose(handle);
  }
  return true;
}

ScopedGraphicsLibraries::ScopedGraphicsLibraries(std::vector<std::string> libraries) {
  std::lock_guard lock(OverrideMutex());
  hadPrevious_ = Override().has_value();
  if (hadPrevious_) previous_ = *Override();
  Override() = std::move(libraries);
}

ScopedGraphicsLibraries::~ScopedGraphicsLibraries() {
  std::lock_guard lock(OverrideMutex());
  if (hadPrevious_) {
    Override() = previous_;
  } else {
    Override().reset();
  }
}

}  // namespace rq::platform
