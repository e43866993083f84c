#pragma once
#include <functional>
#include <memory>
#include <string>

#include "hw/DriverHandle.h"
#include "platform/ServiceManager.h"

namespace rq::hw {

// Names of the driver: the daemon's program file and its service.
inline constexpr const char* kDriverFileName = "ZQ_I2cIo";
inline constexpr const char* kDriverServiceName = "ZQ_I2cIo";

// What the set-up reaches of the system, replaceable in tests.
struct DriverSetupEnvironment {
  std::function<std::unique_ptr<DriverHandle>()> openDevice;
  std::function<std::unique_ptr<platform::ServiceManager>()> openServiceManager;
  std::string systemDirectory;
  std::string currentDirectory;
};

// Where step 4 looks for the program: the current folder, a "/" unless it already
// ends in one, the file name.
std::string DriverSourcePath(const std::string& currentDirectory);

// This machine: the daemon's socket, the service registry, the system and current folders.
DriverSetupEnvironment SystemDriverSetupEnvironment();

// Opens the driver, starting or installing its service when needed: (1) open the
// device; (2) start the registered service; (3) the program already in the
// system's drivers folder goes to (5); (4) otherwise copy it there from the
// current folder, or fail silently when it is in neither; (5) register the service
// and start it, with a message box when registration fails; (6) open the device
// again. Null when the driver cannot be set up.
std::unique_ptr<DriverHandle> SetUpDriver();
std::unique_ptr<DriverHandle> SetUpDriver(const DriverSetupEnvironment& environment);

}  // namespace rq::hw
