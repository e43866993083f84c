// rhomboquest: the overclocking and hardware monitoring utility. No command-line
// options; exit code 1 when another instance is already running, 2 (one line on
// standard error) when there is no X display to show the windows on, else 0.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/CPUSpeedThread.h"
#include "app/Display.h"
#include "app/Skins.h"
#include "app/TInfoForm.h"
#include "app/TMainForm.h"
#include "app/TOverclockForm.h"
#include "app/VerifyWindows.h"
#include "app/WindowThread.h"
#include "engine/MSupport.h"
#include "hw/DriverSetup.h"
#include "verify/VerifyThreads.h"

namespace {

// An exception that escapes an event handler is shown, and the program goes on,
// as users of the program have always seen it.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(activeWindow(), applicationDisplayName(), QString::fromLocal8Bit(e.what()));
    } catch (...) {
      QMessageBox::critical(activeWindow(), applicationDisplayName(), "Unknown error.");
    }
    return false;
  }
};

// A termination signal (logout, kill) closes the program like its exit button, so
// the watchdog is disarmed rather than left to reset the machine.
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(signalPipe[1], &byte, 1);
}

void CloseOnTerminationSignals(QObject* parent) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
    char byte;
    [[maybe_unused]] const ssize_t ignored = read(signalPipe[0], &byte, 1);
    if (rq::app::TMainForm* main = rq::app::AppForms().mainForm) main->close();
  });
  struct sigaction action = {};
  action.sa_handler = &OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Lets go of every worker waiting for the window thread before the system object
// stops its threads, whichever way main is left.
struct ClosingWindowThread {
  ~ClosingWindowThread() { rq::app::WindowThreadDispatcher::Instance().BeginClosing(); }
};

}  // namespace

int main(int argc, char** argv) {
  // RQ_STARTUP_TRACE=1 reports how long the start took (see bench/startup.sh).
  const bool traceStartup = std::getenv("RQ_STARTUP_TRACE") != nullptr;
  QElapsedTimer sinceStart;
  sinceStart.start();
  if (const auto problem = rq::app::PrepareDisplay()) {
    std::fprintf(stderr, "%s\n", problem->c_str());
    return rq::app::kExitNoDisplay;
  }
  Application application(argc, argv);
  rq::app::WindowThreadDispatcher::Instance().Install();
  rq::app::LoadSkins();

  rq::engine::MSupportOptions options;
  // Named here so that the driver set-up is linked into the program.
  options.openDriver = [] { return rq::hw::SetUpDriver(); };
  options.makeCpuSpeedThread =
      [](rq::engine::MSupport& system) -> std::unique_ptr<rq::platform::WorkerThread> {
    return std::make_unique<rq::app::CPUSpeedThread>(system);
  };
  const qint64 detectionStart = sinceStart.elapsed();
  rq::engine::MSupport system(std::move(options));
  const qint64 detectionMs = sinceStart.elapsed() - detectionStart;
  ClosingWindowThread closing;
  if (system.anotherInstance) return 1;

  // No display name: on X11 Qt appends a set display name to every window title
  // that is not that name ("Warning! — Rhomboquest"); each window carries its own
  // exact title. applicationDisplayName() still answers with the name.
  QApplication::setApplicationName("Rhomboquest");
  QApplication::setWindowIcon(QIcon(":/icon/Rhomboquest.png"));
  QApplication::setQuitOnLastWindowClosed(false);  // the main window's close ends the program
  CloseOnTerminationSignals(&application);

  {
    rq::app::VerifyWindows desktop;
    rq::verify::Verification verification(system, desktop);
    rq::app::AppForms().verification = &verification;

    rq::app::TMainForm mainForm(system);
    rq::app::TOverclockForm overclockForm(system);
    // The hardware monitor window is created here, between these two.
    rq::app::TInfoForm infoForm(system);
    // The voltage window is created here, last.
    mainForm.show();
    if (traceStartup) {
      // Runs once the event loop has mapped and painted the window.
      QTimer::singleShot(0, [&] {
        std::fprintf(stderr, "startup: window shown after %lld ms, of which detection %lld ms\n",
                     static_cast<long long>(sinceStart.elapsed()), static_cast<long long>(detectionMs));
      });
    }
    QApplication::exec();

    rq::app::WindowThreadDispatcher::Instance().BeginClosing();
    verification.Stop();
    rq::app::AppForms().verification = nullptr;
  }
  system.CloseInstanceLock();
  return 0;
}
