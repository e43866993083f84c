#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
  // The folder of the running program: searched after the current folder, so that a
  // program started from elsewhere still finds the daemon shipped beside it.
  std::string programDirectory;
  // The installed program's helper folder (libexec/rhomboquest), searched last.
  std::string helperDirectory;
  // Ends the user's own daemon that step 1 reached, when it is of another build
  // than the daemon file the set-up would start; true once it has ended. Empty:
  // a daemon that answers is used as it is.
  std::function<bool()> stopDaemon;
  // True when step 1 reaches the system service (root's): never stopped.
  std::function<bool()> systemDaemon;
  // Why the system service refuses this user, or "" when it does not (or a
  // virtual board was asked for). While it refuses, the set-up neither starts nor
  // uses a daemon of its own: a virtual board must never pass for this machine.
  std::function<std::string()> systemRefusal;
};

// What a set-up that found no driver looked at, for the one message that says so.
struct DriverSetupReport {
  std::vector<std::string> lookedIn;  // every path where the daemon's file was sought
  std::string found;                  // the daemon file that was used, if any
  std::vector<std::string> problems;  // why a file found was not used or did not start
  bool messageShown = false;          // set-up already told the user itself
  std::string refusal;                // the system service refuses this user (systemRefusal)
  // The text of that message: what is missing and where it was sought.
  std::string Explanation() const;
};

// Where step 4 looks for the program: the current folder, a "/" unless it already
// ends in one, the file name.
std::string DriverSourcePath(const std::string& currentDirectory);

// Why the system service in /run/rhomboquest refuses this user (its folder or
// socket closed to them, or a connection refused for permission), one line; ""
// when it does not, or when a virtual board was asked for ($RQ_BOARD, or a private
// runtime folder named in $RQ_RUNTIME_DIR).
std::string SystemServiceRefusal();

// A connection to the driver at SocketDriverHandle::DefaultPath(); null when none
// answers. A connection the system service refuses for permission is remembered
// for SystemServiceRefusal().
std::unique_ptr<DriverHandle> ConnectToDefaultDriver(
    std::chrono::milliseconds replyTimeout = std::chrono::milliseconds(60'000));

// This machine: the daemon's socket, the service registry, the system, current and program folders.
DriverSetupEnvironment SystemDriverSetupEnvironment();

// Opens the driver, starting or installing its service when needed: (1) open the
// device; (2) start the registered service; (3) the program already in the
// system's drivers folder goes to (5); (4) otherwise copy it there from the
// current folder, or fail silently when it is in neither; (5) register the service
// and start it, with a message box when registration fails; (6) open the device
// again. Step (4) also looks in the program's own folder. A daemon that answers
// in (1) but reports another build than the daemon file found (or none: an older
// build) is stopped first, unless it is the system service. Null when the driver
// cannot be set up; `report` (optional) then says what was sought and why it failed.
// While `environment.systemRefusal` names a reason, it starts and uses nothing.
// The program's SetUpDriver() tells the user once, in a message box, when it ends
// without a driver and no other message has been shown; a refusal also as one
// line on standard error.
std::unique_ptr<DriverHandle> SetUpDriver();
std::unique_ptr<DriverHandle> SetUpDriver(const DriverSetupEnvironment& environment,
                                          DriverSetupReport* report = nullptr);

}  // namespace rq::hw
