// rqctl: Rhomboquest from the command line (rqctl --help, docs/rqctl.md).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Rqctl.h"

namespace {

// A stop a driver request holds up (the daemon stalls) ends `log` and `sensors`
// this long after the signal, without the request's answer.
constexpr unsigned kStopGraceSeconds = 1;
constexpr int kSignalExitBase = 128;

std::atomic<bool> g_stop{false};
std::atomic<bool> g_endOnStop{false};
volatile std::sig_atomic_t g_signal = 0;

void OnStopSignal(int signal) {
  g_signal = signal;
  g_stop = true;
  if (g_endOnStop) alarm(kStopGraceSeconds);
}

void OnStopGraceOver(int) {
  // Rows and blocks are written whole with write(2): nothing is left in a buffer.
  constexpr char kMessage[] = "rqctl: stopped while the driver daemon had not answered\n";
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  _exit(kSignalExitBase + g_signal);
}

void EndOnStop() {
  g_endOnStop = true;
  if (g_stop) alarm(kStopGraceSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C, SIGTERM and a closed terminal end a log or a watch between two
  // readings, and a clock change only once its watch is over.
  struct sigaction action = {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  action.sa_handler = &OnStopGraceOver;
  sigaction(SIGALRM, &action, nullptr);
  // A reader that went away shows as a failed write (EPIPE), said and ended on.
  std::signal(SIGPIPE, SIG_IGN);

  rq::cli::Environment environment;
  environment.stop = &g_stop;
  environment.endOnStop = &EndOnStop;
  environment.stdoutIsTerminal = isatty(STDOUT_FILENO) != 0;
  environment.outFd = STDOUT_FILENO;
  const int code = rq::cli::Run({argv + 1, argv + argc}, environment, std::cout, std::cerr);
  alarm(0);  // a stop that came as the command ended on its own
  return code;
}
