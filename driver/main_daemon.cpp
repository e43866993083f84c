#include <iostream>
#include <string>
#include <vector>

#include "driver/Daemon.h"
#include "platform/BuildInfo.h"

int main(int argc, char** argv) {
  using rq::driver::DaemonOptions;
  DaemonOptions options;
  try {
    options = rq::driver::ParseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const rq::driver::UsageError& error) {
    std::cerr << "ZQ_I2cIo: " << error.what() << '\n' << rq::driver::DaemonUsage();
    return 2;
  }
  switch (options.mode) {
    case DaemonOptions::Mode::Help:
      std::cout << rq::driver::DaemonUsage();
      return 0;
    case DaemonOptions::Mode::Version:
      std::cout << "ZQ_I2cIo " << rq::platform::kVersion << '\n';
      return 0;
    case DaemonOptions::Mode::Inspect:
      return rq::driver::RunInspect(options);
    case DaemonOptions::Mode::Serve:
      break;
  }
  return rq::driver::RunDaemon(options);
}
