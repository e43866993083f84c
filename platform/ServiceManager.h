#pragma once
#include <sys/stat.h>

#include <memory>
#include <string>

namespace rq::platform {

// Stand-in for the service control manager: a registry of services (name, display
// name, program path) kept as a profile file in the system folder, and a start
// that launches the service's program as a detached daemon and waits until it
// is ready to serve.
class Service {
 public:
  virtual ~Service() = default;
  // Starts the service; true once the daemon reports itself ready. A program file
  // that fails TrustedProgram is not run (the reason goes to standard error).
  virtual bool Start() = 0;
  // Stops every process of this user that runs the service's program (SIGTERM,
  // then SIGKILL for one that is still there after a few seconds); true once none
  // runs.
  virtual bool Stop() = 0;
};

// Whether a program file (as fstat or stat describe it) may be run for this user:
// a regular file owned by this user or root that nobody else may write. Empty when
// it may, else why not, for a message.
std::string UntrustedProgramReason(const struct stat& info);

enum class CreateServiceResult { Created, AlreadyExists, Failed };

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Opens the registry of the local machine; null when the system folder is unusable.
  static std::unique_ptr<ServiceManager> Open();

  // Null when no service of that name is registered.
  virtual std::unique_ptr<Service> OpenService(const std::string& name) = 0;
  virtual CreateServiceResult CreateService(const std::string& name, const std::string& displayName,
                                            const std::string& programPath,
                                            std::unique_ptr<Service>& created) = 0;
};

}  // namespace rq::platform
