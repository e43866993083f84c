#include "hw/DriverSetup.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "hw/DaemonControl.h"
#include "hw/SocketDriverHandle.h"
#include "platform/FileDigest.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/RuntimeDir.h"
#include "protocol/SocketLocation.h"

namespace rq::hw {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDriversFolder = "/drivers/";
constexpr const char* kServiceExistsText = "failure: CreateService, ERROR_SERVICE_EXISTS !";
constexpr const char* kCreateFailedText = "CreateService failure!";
constexpr const char* kErrorCaption = "Error";
constexpr unsigned kMissingFlags = platform::kMbTopmost | platform::kMbIconError;

constexpr mode_t kInstalledMode = 0700;

// An owned file descriptor.
class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  ~OwnedFd() { Reset(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&&) = delete;
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};
constexpr std::size_t kChunk = 1 << 16;

void Refuse(const std::string& path, const std::string& reason, DriverSetupReport& report) {
  std::cerr << "rhomboquest: will not use the driver " << path << ": " << reason << '\n';
  report.problems.push_back(path + ": " + reason);
}

// The daemon file at `path`, opened once so that what is checked is what gets
// copied. Invalid when there is none; also invalid, with the reason on standard
// error, when it is a link or belongs to or may be written by another user.
OwnedFd OpenTrustedProgram(const std::string& path, DriverSetupReport& report) {
  report.lookedIn.push_back(path);
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) {
    if (errno == ELOOP) Refuse(path, "it is a symbolic link", report);
    return fd;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return OwnedFd();
  if (const std::string reason = platform::UntrustedProgramReason(info); !reason.empty()) {
    Refuse(path, reason, report);
    return OwnedFd();
  }
  return fd;
}

// The daemon to install: the one in the current folder, else the one beside the
// program. `path` tells which.
OwnedFd OpenSourceProgram(const DriverSetupEnvironment& environment, std::string& path,
                          DriverSetupReport& report) {
  std::vector<std::string> folders;
  for (const std::string& folder :
       {environment.currentDirectory, environment.programDirectory, environment.helperDirectory}) {
    if (!folder.empty() &&
        std::find(folders.begin(), folders.end(), DriverSourcePath(folder)) == folders.end())
      folders.push_back(DriverSourcePath(folder));
  }
  for (const std::string& candidate : folders) {
    OwnedFd fd = OpenTrustedProgram(candidate, report);
    if (fd.Valid()) {
      path = candidate;
      return fd;
    }
  }
  return OwnedFd();
}

bool ReadAll(int fd, off_t offset, std::vector<char>& out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SameContent(int source, const std::string& target) {
  OwnedFd installed(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat a {
  }, b{};
  if (!installed.Valid() || ::fstat(source, &a) != 0 || ::fstat(installed.Get(), &b) != 0 ||
      a.st_size != b.st_size) {
    return false;
  }
  std::vector<char> left(kChunk), right(kChunk);
  for (off_t offset = 0; offset < a.st_size; offset += kChunk) {
    const auto size = static_cast<std::size_t>(std::min<off_t>(kChunk, a.st_size - offset));
    left.resize(size);
    right.resize(size);
    if (!ReadAll(source, offset, left) || !ReadAll(installed.Get(), offset, right) || left != right)
      return false;
  }
  return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies through a temporary file, fsync and a rename, so that an interrupted
// copy never leaves a partial program where step 3 would take it for the driver,
// and a running old copy keeps its own file until it ends.
bool InstallCopy(int source, const std::string& target) {
  std::error_code error;
  fs::create_directories(fs::path(target).parent_path(), error);
  if (error) return false;
  const std::string temporary = target + ".part";
  ::unlink(temporary.c_str());
  OwnedFd out(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kInstalledMode));
  bool copied = out.Valid() && ::fchmod(out.Get(), kInstalledMode) == 0;
  std::vector<char> chunk(kChunk);
  for (off_t offset = 0; copied;) {
    const ssize_t n = ::pread(source, chunk.data(), chunk.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    copied = n > 0 && WriteAll(out.Get(), chunk.data(), static_cast<std::size_t>(n));
    offset += n;
  }
  copied = copied && ::fsync(out.Get()) == 0;
  out.Reset();
  if (copied) fs::rename(temporary, target, error);
  if (!copied || error) {
    fs::remove(temporary, error);
    return false;
  }
  OwnedFd folder(::open(fs::path(target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) ::fsync(folder.Get());
  return true;
}

// A newer program ships a newer daemon: an installed copy that is not the program
// in the current folder is replaced, once its service is stopped. False when the
// installed copy should be replaced but could not be.
bool RefreshInstalledCopy(const DriverSetupEnvironment& environment, int source, const std::string& target) {
  std::error_code error;
  if (!fs::exists(target, error) || SameContent(source, target)) return true;
  if (auto manager = environment.openServiceManager()) {
    if (auto service = manager->OpenService(kDriverServiceName)) service->Stop();
  }
  return InstallCopy(source, target);
}

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// True when the daemon behind `handle` may be used: it is the build of the daemon
// file the set-up would start (`source`, else the installed `target`), the set-up
// cannot tell, or it is the system service, which is not this user's to replace.
bool SameBuildOrNotOurs(const DriverSetupEnvironment& environment, DriverHandle& handle, int source,
                        const std::string& target) {
  const std::optional<std::uint64_t> expected =
      source >= 0 ? platform::FileDigest(source) : platform::FileDigest(target);
  if (!expected) return true;
  const std::optional<std::uint64_t> running = DaemonBuildDigest(handle);
  if (running == expected) return true;
  // No answer within the reply bound is a stalled daemon, not an older one: it
  // cannot be stopped cleanly, and every request through it now fails at once,
  // which the caller reports as a driver that stopped answering.
  if (!handle.Connected()) return true;
  if (environment.systemDaemon && environment.systemDaemon()) {
    static bool told = false;
    if (!std::exchange(told, true)) {
      std::cerr << "rhomboquest: the system driver service is of another build than this program's "
                << "driver; it is root's to replace, so it is used as it is\n";
    }
    return true;
  }
  std::cerr << "rhomboquest: the running driver daemon is of another build ("
            << (running ? Hex(*running) : std::string("older, no build request")) << ", expected "
            << Hex(*expected) << "); replacing it\n";
  return false;
}

std::string SystemSocketPath() {
  return std::string(protocol::kSystemSocketFolder) + "/" + protocol::kSocketFileName;
}

// A virtual board the user asked for by name stands in for the refusing service.
constexpr const char* kBoardVariable = "RQ_BOARD";
bool VirtualBoardAsked() {
  const char* board = std::getenv(kBoardVariable);
  return board != nullptr && *board != '\0';
}

std::atomic<bool>& SystemConnectRefused() {
  static std::atomic<bool> refused{false};
  return refused;
}

std::string GroupName(gid_t gid) {
  constexpr std::size_t kGroupBuffer = 16384;
  std::vector<char> buffer(kGroupBuffer);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return entry.gr_name;
}

bool Refused(const DriverSetupEnvironment& environment, DriverSetupReport& report) {
  if (environment.systemRefusal) report.refusal = environment.systemRefusal();
  return !report.refusal.empty();
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

std::string SystemServiceRefusal() {
  if (protocol::PrivateRuntimeDirNamed() || VirtualBoardAsked()) return {};
  if (!SystemConnectRefused() && protocol::ProbeSystemSocket() != protocol::SystemSocket::NotPermitted)
    return {};
  struct stat folder {};
  const std::string group =
      ::stat(protocol::kSystemSocketFolder, &folder) == 0 ? GroupName(folder.st_gid) : "";
  return std::string("the hardware driver service in ") + protocol::kSystemSocketFolder +
         " refuses this user: join " + (group.empty() ? "its group" : "the group '" + group + "'") +
         " and log in again; no virtual board is started in its place (set " + kBoardVariable +
         " to use one)";
}

std::unique_ptr<DriverHandle> ConnectToDefaultDriver(std::chrono::milliseconds replyTimeout) {
  const std::string path = SocketDriverHandle::DefaultPath();
  if (path.empty()) return nullptr;
  auto handle = SocketDriverHandle::Connect(path, replyTimeout);
  if (handle == nullptr && (errno == EACCES || errno == EPERM) && path == SystemSocketPath())
    SystemConnectRefused() = true;
  return handle;
}

DriverSetupEnvironment SystemDriverSetupEnvironment() {
  if (!protocol::PrivateRuntimeDirNamed() && VirtualBoardAsked() &&
      protocol::ProbeSystemSocket() == protocol::SystemSocket::NotPermitted) {
    std::cerr << "rhomboquest: the hardware driver service in " << protocol::kSystemSocketFolder
              << " refuses this user; using the virtual board " << kBoardVariable << " asks for\n";
  }
  DriverSetupEnvironment environment;
  environment.openDevice = [] { return ConnectToDefaultDriver(); };
  environment.systemRefusal = &SystemServiceRefusal;
  environment.openServiceManager = [] { return platform::ServiceManager::Open(); };
  environment.systemDirectory = platform::SystemDirectory();
  environment.currentDirectory = CurrentDirectory();
  environment.programDirectory = platform::ProgramDirectory();
  environment.helperDirectory = platform::HelperProgramDirectory();
  environment.systemDaemon = [] { return SocketDriverHandle::DefaultPath() == SystemSocketPath(); };
  environment.stopDaemon = [] {
    std::string detail;
    const DaemonStop stopped = StopDaemon(SocketDriverHandle::DefaultPath(), detail, true);
    if (stopped == DaemonStop::Failed) std::cerr << "rhomboquest: " << detail << "; using it as it is\n";
    return stopped != DaemonStop::Failed;
  };
  return environment;
}

std::string DriverSetupReport::Explanation() const {
  std::string text;
  if (!refusal.empty()) {
    text = refusal + ".";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  } else if (found.empty()) {
    text = std::string("The hardware driver ") + kDriverFileName +
           " is missing: it is not running and its program was not found. Looked in:";
    for (const std::string& path : lookedIn) text += "\n  " + path;
  } else {
    text = std::string("The hardware driver ") + kDriverFileName + " (" + found + ") could not be started.";
  }
  for (const std::string& problem : problems) text += "\nNot used: " + problem;
  text +=
      "\nWithout it the program cannot reach the hardware: every read-out stays 0 and no clock can be "
      "changed.";
  return text;
}

std::unique_ptr<DriverHandle> SetUpDriver() {
  DriverSetupReport report;
  auto handle = SetUpDriver(SystemDriverSetupEnvironment(), &report);
  if (!report.refusal.empty()) std::cerr << "rhomboquest: " << report.refusal << '\n';
  if (!handle && !report.messageShown)
    platform::MessageBox(report.Explanation(), kErrorCaption, kMissingFlags);
  return handle;
}

std::unique_ptr<DriverHandle> SetUpDriver(const DriverSetupEnvironment& environment,
                                          DriverSetupReport* reportOrNull) {
  DriverSetupReport unused;
  DriverSetupReport& report = reportOrNull ? *reportOrNull : unused;
  if (Refused(environment, report)) return nullptr;
  const std::string target = environment.systemDirectory.empty()
                                 ? std::string()
                                 : environment.systemDirectory + kDriversFolder + kDriverFileName;
  std::string sourcePath;
  const OwnedFd source = OpenSourceProgram(environment, sourcePath, report);
  if (source.Valid()) report.found = sourcePath;

  // (1) A daemon that already serves is all we need, when it is of this build.
  if (auto handle = environment.openDevice()) {
    if (!environment.stopDaemon || SameBuildOrNotOurs(environment, *handle, source.Get(), target))
      return handle;
    handle.reset();
    // One that cannot be stopped goes on serving: better the old build than none.
    if (!environment.stopDaemon()) return environment.openDevice();
  }
  // The system service may have refused the connection itself.
  if (Refused(environment, report)) return nullptr;
  if (source.Valid() && !target.empty() && !RefreshInstalledCopy(environment, source.Get(), target)) {
    Refuse(target, "it differs from " + sourcePath + " and cannot be replaced", report);
    return nullptr;
  }
  // An installed copy someone else could have changed is never started.
  struct stat installed {};
  if (!target.empty()) report.lookedIn.insert(report.lookedIn.begin(), target);
  if (!target.empty() && ::stat(target.c_str(), &installed) == 0) {
    report.found = target;
    if (const std::string reason = platform::UntrustedProgramReason(installed); !reason.empty()) {
      Refuse(target, reason, report);
      return nullptr;
    }
  }

  // (2) Start the registered service; any failure here falls through silently.
  bool started = false;
  if (auto manager = environment.openServiceManager()) {
    if (auto service = manager->OpenService(kDriverServiceName)) started = service->Start();
  }

  if (!started) {
    if (target.empty()) return nullptr;
    // (3) The program in the system's drivers folder, or (4) copied there from the current folder.
    std::error_code error;
    if (!fs::exists(target, error) && (!source.Valid() || !InstallCopy(source.Get(), target))) return nullptr;

    // (5) Register the service and start it.
    std::unique_ptr<platform::Service> created;
    platform::CreateServiceResult result = platform::CreateServiceResult::Failed;
    if (auto manager = environment.openServiceManager()) {
      result = manager->CreateService(kDriverServiceName, kDriverServiceName, target, created);
    }
    if (result == platform::CreateServiceResult::AlreadyExists) {
      platform::MessageBox(kServiceExistsText, kErrorCaption, platform::kMbTopmost);
      report.messageShown = true;
      return nullptr;
    }
    if (result != platform::CreateServiceResult::Created || !created) {
      platform::MessageBox(kCreateFailedText, kErrorCaption, platform::kMbTopmost);
      report.messageShown = true;
      return nullptr;
    }
    if (!created->Start()) return nullptr;
  }

  // (6) Open the device again.
  return environment.openDevice();
}

}  // namespace rq::hw
