// rhomboquest: the overclocking and hardware monitoring utility. Options:
// --version; --state-folder (settings in the per-user state folder even when run
// from a build tree; installed, they are there anyway: engine/SettingsStore.h).
// Exit code 1 when another instance is already running or the state folder is
// unusable, 2 (one line on standard error) when there is no X display to show the
// windows on, else 0.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <string_view>

#include "app/CPUSpeedThread.h"
#include "app/Display.h"
#include "app/HardwareJobs.h"
#include "app/HwMonitorThread.h"
#include "app/Skins.h"
#include "app/THwMonitorForm.h"
#include "app/TInfoForm.h"
#include "app/TMainForm.h"
#include "app/TOverclockForm.h"
#include "app/TVoltForm.h"
#include "app/VerifyWindows.h"
#include "app/WindowThread.h"
#include "engine/MSupport.h"
#include "engine/SettingsStore.h"
#include "hw/DriverSetup.h"
#include "platform/BuildInfo.h"
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

double ProcessCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6;
}

// RQ_STARTUP_TRACE: each clock step's wall and CPU time, and the window thread's
// longest stall meanwhile, seen by a timer that should fire every 10 ms.
class StepTrace : public QObject {
 public:
  StepTrace() {
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, [this] { Tick(); });
    ticker_.start(kTickMs);
    rq::app::HardwareJobs::SetObserver([this](bool started) { started ? Begin() : End(); });
  }
  ~StepTrace() override { rq::app::HardwareJobs::SetObserver({}); }

 private:
  static constexpr int kTickMs = 10;
  void Tick() {
    if (running_ > 0) longestStallMs_ = std::max(longestStallMs_, sinceTick_.restart());
  }
  void Begin() {
    if (running_++ > 0) return;
    wall_.start();
    sinceTick_.start();
    longestStallMs_ = 0;
    cpuAtBegin_ = ProcessCpuMs();
  }
  void End() {
    if (--running_ > 0) return;
    Tick();
    std::fprintf(stderr, "step: %lld ms, CPU %.1f ms, longest window-thread stall %lld ms\n",
                 static_cast<long long>(wall_.elapsed()), ProcessCpuMs() - cpuAtBegin_,
                 static_cast<long long>(longestStallMs_));
  }

  QTimer ticker_;
  QElapsedTimer wall_;
  QElapsedTimer sinceTick_;
  qint64 longestStallMs_ = 0;
  double cpuAtBegin_ = 0;
  int running_ = 0;
};

// Lets go of every worker waiting for the window thread before the system object
// stops its threads, whichever way main is left.
struct ClosingWindowThread {
  ~ClosingWindowThread() { rq::app::WindowThreadDispatcher::Instance().BeginClosing(); }
};

bool HasOption(int argc, char** argv, std::string_view option) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] == option) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (HasOption(argc, argv, "--version")) {
    std::printf("rhomboquest %s\n", rq::platform::kVersion);
    return 0;
  }
  const rq::engine::SettingsChoice settings =
      rq::engine::ChooseSettingsFile({}, HasOption(argc, argv, "--state-folder"));
  if (settings.problem) {
    std::fprintf(stderr, "rhomboquest: cannot use the settings folder: %s\n", settings.problem->c_str());
    return 1;
  }
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
  options.settingsFile = settings.file;
  // Named here so that the driver set-up is linked into the program.
  options.openDriver = [] { return rq::hw::SetUpDriver(); };
  options.makeCpuSpeedThread =
      [](rq::engine::MSupport& system) -> std::unique_ptr<rq::platform::WorkerThread> {
    return std::make_unique<rq::app::CPUSpeedThread>(system);
  };
  options.makeHwMonitorThread =
      [](rq::engine::MSupport& system) -> std::unique_ptr<rq::platform::WorkerThread> {
    return std::make_unique<rq::app::HwMonitorThread>(system);
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
    rq::app::THwMonitorForm hwMonitorForm(system);
    rq::app::TInfoForm infoForm(system);
    rq::app::TVoltForm voltForm(system);
    mainForm.show();
    std::unique_ptr<StepTrace> stepTrace;
    if (traceStartup) {
      // Runs once the event loop has mapped and painted the window.
      QTimer::singleShot(0, [&] {
        std::fprintf(stderr, "startup: window shown after %lld ms, of which detection %lld ms, CPU %.0f ms\n",
                     static_cast<long long>(sinceStart.elapsed()), static_cast<long long>(detectionMs),
                     ProcessCpuMs());
      });
      stepTrace = std::make_unique<StepTrace>();
    }
    QApplication::exec();

    rq::app::WindowThreadDispatcher::Instance().BeginClosing();
    verification.Stop();
    rq::app::AppForms().verification = nullptr;
  }
  system.CloseInstanceLock();
  return 0;
}
