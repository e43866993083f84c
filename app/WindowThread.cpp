#include "app/WindowThread.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

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
  std::lock_guard lock(mutex_);
  const bool was = closing_;
  closing_ = true;
  for (auto& job : pending_) job->done = true;
  pending_.clear();
  cv_.notify_all();
  return was;
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
  if (QThread::currentThread() == thread()) {
    work();
    return true;
  }
  auto job = std::make_shared<Job>();
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
  int result = okCancel ? platform::kIdCancel : platform::kIdOk;
  WindowThreadDispatcher::Instance().Run([&] {
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
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                    okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    if (flags & platform::kMbTopmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    result = box.exec() == QMessageBox::Ok ? platform::kIdOk : platform::kIdCancel;
  });
  return result;
}

}  // namespace rq::app
