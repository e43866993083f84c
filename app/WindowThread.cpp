#include "app/WindowThread.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "app/Forms.h"
#include "platform/MessageBox.h"
#include "platform/WindowThread.h"

namespace rq::app {

WindowThreadDispatcher& WindowThreadDispatcher::Instance() {
  static WindowThreadDispatcher* dispatcher = new WindowThreadDispatcher;  // outlives every worker
  return *dispatcher;
}

void WindowThreadDispatcher::Install() {
  moveToThread(QThread::currentThread());
  Reopen();
  platform::SetWindowThreadDispatcher([](const std::function<void()>& work) { Instance().Run(work); });
  platform::SetMessageBoxHandler(&ShowMessageBox);
}

bool WindowThreadDispatcher::BeginClosing() {
  bool was;
  {
    std::lock_guard lock(mutex_);
    was = closing_;
    closing_ = true;
    for (auto& job : pending_) job->done = true;
    pending_.clear();
    // A worker dialog still open is where the close came from (or lies below it):
    // its worker goes now with the closing answer, the dialog ends after the close.
    for (auto& job : releasable_) job->done = true;
    releasable_.clear();
    cv_.notify_all();
  }
  if (QThread::currentThread() == thread()) {
    DismissWorkerDialogs();
  } else {
    QMetaObject::invokeMethod(
        this, [this] { DismissWorkerDialogs(); }, Qt::QueuedConnection);
  }
  return was;
}

void WindowThreadDispatcher::DismissWorkerDialogs() {
  // done() only asks the dialog's event loop to end; the list is not changed here.
  for (const auto& [dialog, result] : std::vector(workerDialogs_)) {
    if (dialog) dialog->done(result);
  }
}

void WindowThreadDispatcher::Reopen() {
  std::lock_guard lock(mutex_);
  closing_ = false;
}

bool WindowThreadDispatcher::Closing() const {
  std::lock_guard lock(mutex_);
  return closing_;
}

bool WindowThreadDispatcher::Run(const std::function<void()>& work) {
  return Run(work, std::make_shared<Job>());
}

bool WindowThreadDispatcher::Post(QObject* context, std::function<void()> work) {
  if (Closing()) return false;
  QMetaObject::invokeMethod(
      context,
      [this, work = std::move(work)] {
        if (!Closing()) work();
      },
      Qt::QueuedConnection);
  return true;
}

int WindowThreadDispatcher::RunDialog(const std::function<std::unique_ptr<QDialog>()>& makeDialog,
                                      int closingResult) {
  if (QThread::currentThread() == thread()) return makeDialog()->exec();
  auto result = std::make_shared<int>(closingResult);
  auto job = std::make_shared<Job>();
  // Past the making of the dialog the work touches only what it holds itself: its
  // worker may be gone by the time the dialog ends.
  auto work = [this, makeDialog, closingResult, result, weakJob = std::weak_ptr<Job>(job)] {
    std::unique_ptr<QDialog> dialog = makeDialog();
    const std::shared_ptr<Job> running = weakJob.lock();
    {
      std::lock_guard lock(mutex_);
      if (closing_ || !running) return;
      releasable_.push_back(running);
    }
    workerDialogs_.emplace_back(dialog.get(), closingResult);
    *result = dialog->exec();
    std::erase_if(workerDialogs_, [&](const auto& entry) { return entry.first == dialog.get(); });
    std::lock_guard lock(mutex_);
    std::erase(releasable_, running);
  };
  return Run(work, job) ? *result : closingResult;
}

bool WindowThreadDispatcher::Run(const std::function<void()>& work, const std::shared_ptr<Job>& job) {
  if (QThread::currentThread() == thread()) {
    work();
    return true;
  }
  job->work = work;
  {
    std::lock_guard lock(mutex_);
    if (closing_) return false;
    pending_.push_back(job);
  }
  QMetaObject::invokeMethod(
      this, [this, job] { Execute(job); }, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return job->done; });
  if (job->error) std::rethrow_exception(job->error);
  return job->ran;
}

void WindowThreadDispatcher::Execute(const std::shared_ptr<Job>& job) {
  {
    std::lock_guard lock(mutex_);
    if (job->done) return;  // dropped when closing began
    std::erase(pending_, job);
  }
  std::exception_ptr error;
  try {
    job->work();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  job->ran = true;
  job->error = error;
  job->done = true;
  cv_.notify_all();
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  const bool okCancel = (flags & 0xF) == platform::kMbOkCancel;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case platform::kMbIconError:
      icon = QMessageBox::Critical;
      break;
    case platform::kMbIconWarning:
      icon = QMessageBox::Warning;
      break;
    case platform::kMbIconInformation:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  // The box holds copies of the texts: a closing program lets the worker go while
  // the box is still open.
  const int button = WindowThreadDispatcher::Instance().RunDialog(
      [icon, okCancel, flags, title = QString::fromStdString(caption), body = QString::fromStdString(text)] {
        auto box = std::make_unique<QMessageBox>(
            icon, title, body, okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
        if (flags & platform::kMbTopmost) box->setWindowFlag(Qt::WindowStaysOnTopHint);
        OfferOnlyClose(*box);
        return std::unique_ptr<QDialog>(std::move(box));
      },
      okCancel ? QMessageBox::Cancel : QMessageBox::Ok);
  return button == QMessageBox::Ok ? platform::kIdOk : platform::kIdCancel;
}

}  // namespace rq::app
