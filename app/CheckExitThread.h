#pragma once
#include <functional>
#include <memory>

#include "platform/NamedEvent.h"
#include "platform/WorkerThread.h"

namespace rq::app {

// Waits on the shared exit event, which the exit button or another process
// signals, and then asks the main window to close.
class CheckExitThread : public platform::WorkerThread {
 public:
  // `requestClose` runs on this thread and must only post the request.
  explicit CheckExitThread(std::function<void()> requestClose);
  ~CheckExitThread() override;

  // False when the event could not be created (then nothing can signal it).
  bool HasEvent() const { return event_ != nullptr; }
  void Signal();
  // Terminates the thread, wakes it and waits for it.
  void Stop();

 protected:
  void Execute() override;

 private:
  std::unique_ptr<platform::NamedEvent> event_;
  std::function<void()> requestClose_;
};

}  // namespace rq::app
