// rqctl: Rhomboquest from the command line (rqctl --help, docs/rqctl.md).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Rqctl.h"

namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop = true; }

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C, SIGTERM and a closed terminal end a log or a watch between two
  // readings, and a clock change only once its watch is over.
  struct sigaction action = {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  rq::cli::Environment environment;
  environment.stop = &g_stop;
  environment.stdoutIsTerminal = isatty(STDOUT_FILENO) != 0;
  return rq::cli::Run({argv + 1, argv + argc}, environment, std::cout, std::cerr);
}
