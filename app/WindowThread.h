#pragma once
#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace rq::app {

// Runs work from worker threads on the window thread and waits for it. Once the
// program begins to close, pending and new work is dropped and the caller returns
// at once: the window thread may then wait for a worker that was itself waiting
// here, without a deadlock.
class WindowThreadDispatcher : public QObject {
 public:
  static WindowThreadDispatcher& Instance();

  // Makes the calling thread the window thread and routes platform::Synchronize
  // and platform::MessageBox here. Call once QApplication exists.
  void Install();
  // Drops pending work and refuses new work; returns whether it was already closing.
  bool BeginClosing();
  // Accepts work again (a new set of windows, e.g. in tests).
  void Reopen();
  bool Closing() const;

  // Runs `work` on the window thread and returns when it ran or was dropped;
  // false when dropped. An exception thrown by the work is rethrown here.
  bool Run(const std::function<void()>& work);

 private:
  struct Job {
    std::function<void()> work;
    bool done = false;
    bool ran = false;
    std::exception_ptr error;
  };
  void Execute(const std::shared_ptr<Job>& job);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Job>> pending_;
  bool closing_ = false;
};

// Shows a message box with the texts and flags of platform::MessageBox on the
// window thread and returns kIdOk or kIdCancel.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace rq::app
