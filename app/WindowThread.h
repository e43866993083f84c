#pragma once
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace rq::app {

// Runs work from worker threads on the window thread and waits for it. Once the
// program begins to close, pending and new work is dropped and the caller returns
// at once: the window thread may then wait for a worker that was itself waiting
// here, without a deadlock. A message box a worker is waiting for is answered
// with its cancel answer and dismissed, since the close may arrive inside it.
//
// Work given to Run must not wait for the user (no dialog, no event loop of its
// own): such work would hold its worker until the close handler returns, and the
// close handler waits for the workers. Worker message boxes go through
// ShowMessageBox, which is built to be let go.
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

  // Runs `work` later on the window thread without waiting for it (the way a worker
  // hands back results the window shows). The work is dropped when `context` is
  // gone by then or the program has begun to close; false when dropped at once.
  bool Post(QObject* context, std::function<void()> work);

  // Shows `dialog` modally on the window thread for a worker and returns its result.
  // `dialog` is made on the window thread and must own everything it shows: once
  // closing begins the worker gets `closingResult` at once while the dialog is
  // dismissed with that result.
  int RunDialog(const std::function<std::unique_ptr<QDialog>()>& makeDialog, int closingResult);

 private:
  struct Job {
    std::function<void()> work;
    bool done = false;
    bool ran = false;
    std::exception_ptr error;
  };
  bool Run(const std::function<void()>& work, const std::shared_ptr<Job>& job);
  void Execute(const std::shared_ptr<Job>& job);
  // Window thread only.
  void DismissWorkerDialogs();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Job>> pending_;
  // Jobs whose worker may go as soon as closing begins (open worker dialogs).
  std::vector<std::shared_ptr<Job>> releasable_;
  // Window thread only: open dialogs of workers with the result they close with.
  std::vector<std::pair<QPointer<QDialog>, int>> workerDialogs_;
  bool closing_ = false;
};

// Shows a message box with the texts and flags of platform::MessageBox on the
// window thread and returns kIdOk or kIdCancel.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace rq::app
