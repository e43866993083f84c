#include "app/CheckExitThread.h"

namespace rq::app {

CheckExitThread::CheckExitThread(std::function<void()> requestClose)
    : event_(platform::NamedEvent::Create(platform::kExitEventName)),
      requestClose_(std::move(requestClose)) {}

CheckExitThread::~CheckExitThread() { Stop(); }

void CheckExitThread::Signal() {
  if (event_) event_->Set();
}

void CheckExitThread::Stop() {
  Terminate();
  Signal();
  Shutdown();
}

void CheckExitThread::Execute() {
  if (!event_) return;
  event_->Wait();
  if (!Terminated()) requestClose_();
}

}  // namespace rq::app
