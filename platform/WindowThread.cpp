#include "platform/WindowThread.h"

#include <mutex>

namespace rq::platform {
namespace {

std::mutex& DispatcherMutex() {
  static std::mutex mutex;
  return mutex;
}

WindowThreadDispatcher& Dispatcher() {
  static WindowThreadDispatcher dispatcher;
  return dispatcher;
}

}  // namespace

void Synchronize(const std::function<void()>& work) {
  WindowThreadDispatcher dispatcher;
  {
    std::lock_guard lock(DispatcherMutex());
    dispatcher = Dispatcher();
  }
  if (dispatcher) {
    dispatcher(work);
  } else {
    work();
  }
}

void SetWindowThreadDispatcher(WindowThreadDispatcher dispatcher) {
  std::lock_guard lock(DispatcherMutex());
  Dispatcher() = std::move(dispatcher);
}

}  // namespace rq::platform
