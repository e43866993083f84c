// rqdetect: starts the system object the way the program does and prints what it
// found: the BIOS model string, the board model, one device per family and the clocks.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "engine/DevicePaths.h"
#include "engine/Formatting.h"
#include "engine/MSupport.h"
#include "platform/BuildInfo.h"

namespace {

template <typename Device>
void PrintDevice(const char* family, const Device* device) {
  if (device == nullptr) {
    std::printf("%-28s none\n", family);
  } else {
    std::printf("%-28s %s (%s)\n", family, device->GetModel().c_str(), device->GetDescription().c_str());
  }
}

// The chip and the path it is read through, or the host's own sensors in its place.
void PrintMonitor(const rq::engine::MSupport& support) {
  const auto* chip = support.hardwareMonitor.get();
  const std::string driver = rq::engine::MonitorKernelDriver(support);
  if (chip != nullptr && !driver.empty()) {
    std::printf("%-28s %s (%s), read through the kernel's %s driver (hwmon)\n", "hardware monitor",
                chip->GetModel().c_str(), chip->GetDescription().c_str(), driver.c_str());
  } else if (chip == nullptr && !support.hostSensors.empty()) {
    std::printf("%-28s none of the program's; %s are used\n", "hardware monitor",
                rq::engine::DescribeHostSensors(support).c_str());
  } else {
    PrintDevice("hardware monitor", chip);
  }
}

void PrintClock(const char* name, double mhz) {
  std::printf("%-28s %s MHz\n", name, rq::engine::FloatToText(mhz).c_str());
}

constexpr int kExitUsage = 2;
constexpr char kUsage[] = "Usage: rqdetect [--help | --version]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
      std::printf("rqdetect %s\n", rq::platform::kVersion);
      return 0;
    }
    if (std::strcmp(argv[1], "--help") == 0 && argc == 2) {
      std::printf("%sPrints what Rhomboquest detects on the board behind the driver daemon.\n", kUsage);
      return 0;
    }
    // Nothing else is taken: a mistyped option must not start a detection run.
    std::fprintf(stderr, "%s", kUsage);
    return kExitUsage;
  }
  // The program's own settings file, chosen as the program chooses it.
  const rq::engine::SettingsChoice settings = rq::engine::ChooseSettingsFile({}, false);
  if (settings.problem) {
    std::fprintf(stderr, "rqdetect: cannot use the settings folder: %s\n", settings.problem->c_str());
    return 1;
  }
  rq::engine::MSupportOptions options;
  options.settingsFile = settings.file;
  rq::engine::MSupport support(std::move(options));
  if (support.anotherInstance) {
    std::fprintf(stderr, "rqdetect: another instance is running\n");
    return 1;
  }
  if (!support.DriverReady()) std::printf("%-28s not available\n", "driver");
  std::printf("%-28s %s\n", "BIOS model", support.biosModel.c_str());
  std::printf("%-28s %s\n", "board model", support.boardModel.c_str());
  PrintDevice("north bridge", support.northBridge.get());
  PrintDevice("clock generator", support.clockGenerator.get());
  PrintMonitor(support);
  PrintDevice("overclock controller", support.overclockController.get());
  PrintDevice("GPIO over-voltage", support.gpioVoltage.get());
  for (const rq::hw::KernelOwnedBlock& block : support.kernelOwnedBlocks)
    std::printf("%-28s %s\n", "left to a kernel driver", rq::engine::LeftToKernelAdvice(block).c_str());
  PrintClock("CPU (FSB) clock", support.fsbClock);
  PrintClock("hardware default clock", support.hwDefaultClock);
  PrintClock("AGP clock", support.agpClock);
  PrintClock("PCI clock", support.pciClock);
  PrintClock("memory clock", support.memoryClock);
  std::printf("%-28s %d %%\n", "overclock", support.GetOverclockPercent());
  if (support.HasVoltageDevice()) {
    std::printf("%-28s %s V\n", "core voltage", rq::engine::FloatToText(support.coreVoltage).c_str());
    std::printf("%-28s %s V\n", "memory voltage", rq::engine::FloatToText(support.memoryVoltage).c_str());
  }
  return 0;
}
