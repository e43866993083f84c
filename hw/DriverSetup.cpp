#include "hw/DriverSetup.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "driver/SocketLocation.h"
#include "hw/SocketDriverHandle.h"
#include "platform/MessageBox.h"
#include "platform/RuntimeDir.h"

namespace rq::hw {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDriversFolder = "/drivers/";
constexpr const char* kServiceExistsText = "failure: CreateService, ERROR_SERVICE_EXISTS !";
constexpr const char* kCreateFailedText = "CreateService failure!";
constexpr const char* kErrorCaption = "Error";

// Copies through a temporary file and a rename, so that an interrupted copy never
// leaves a partial program where step 3 would take it for the driver.
bool InstallCopy(const std::string& source, const std::string& target) {
  std::error_code error;
  fs::create_directories(fs::path(target).parent_path(), error);
  if (error) return false;
  const std::string temporary = target + ".part";
  if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error)) return false;
  fs::permissions(temporary, fs::perms::owner_all, fs::perm_options::add, error);
  if (!error) fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

std::string CurrentDirectory() {
  std::error_code error;
  const fs::path current = fs::current_path(error);
  return error ? std::string() : current.string();
}

}  // namespace

std::string DriverSourcePath(const std::string& currentDirectory) {
  std::string source = currentDirectory;
  if (source.empty() || source.back() != '/') source += '/';
  return source + kDriverFileName;
}

DriverSetupEnvironment SystemDriverSetupEnvironment() {
  if (!driver::PrivateRuntimeDirNamed() &&
      driver::ProbeSystemSocket() == driver::SystemSocket::NotPermitted) {
    std::cerr << "rhomboquest: this user may not use the hardware driver at " << driver::kSystemSocketFolder
              << " (join its group and log in again); using a private virtual board\n";
  }
  DriverSetupEnvironment environment;
  environment.openDevice = []() -> std::unique_ptr<DriverHandle> {
    const std::string path = SocketDriverHandle::DefaultPath();
    if (path.empty()) return nullptr;
    return SocketDriverHandle::Connect(path);
  };
  environment.openServiceManager = [] { return platform::ServiceManager::Open(); };
  environment.systemDirectory = platform::SystemDirectory();
  environment.currentDirectory = CurrentDirectory();
  return environment;
}

std::unique_ptr<DriverHandle> SetUpDriver() { return SetUpDriver(SystemDriverSetupEnvironment()); }

std::unique_ptr<DriverHandle> SetUpDriver(const DriverSetupEnvironment& environment) {
  // (1) A daemon that already serves is all we need.
  if (auto handle = environment.openDevice()) return handle;

  // (2) Start the registered service; any failure here falls through silently.
  bool started = false;
  if (auto manager = environment.openServiceManager()) {
    if (auto service = manager->OpenService(kDriverServiceName)) started = service->Start();
  }

  if (!started) {
    if (environment.systemDirectory.empty()) return nullptr;
    // (3) The program in the system's drivers folder, or (4) copied there from the current folder.
    const std::string target = environment.systemDirectory + kDriversFolder + kDriverFileName;
    std::error_code error;
    if (!fs::exists(target, error)) {
      const std::string source = DriverSourcePath(environment.currentDirectory);
      if (environment.currentDirectory.empty() || !fs::is_regular_file(source, error) ||
          !InstallCopy(source, target))
        return nullptr;
    }

    // (5) Register the service and start it.
    std::unique_ptr<platform::Service> created;
    platform::CreateServiceResult result = platform::CreateServiceResult::Failed;
    if (auto manager = environment.openServiceManager()) {
      result = manager->CreateService(kDriverServiceName, kDriverServiceName, target, created);
    }
    if (result == platform::CreateServiceResult::AlreadyExists) {
      platform::MessageBox(kServiceExistsText, kErrorCaption, platform::kMbTopmost);
      return nullptr;
    }
    if (result != platform::CreateServiceResult::Created || !created) {
      platform::MessageBox(kCreateFailedText, kErrorCaption, platform::kMbTopmost);
      return nullptr;
    }
    if (!created->Start()) return nullptr;
  }

  // (6) Open the device again.
  return environment.openDevice();
}

}  // namespace rq::hw
