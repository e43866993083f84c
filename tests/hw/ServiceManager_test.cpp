#include "platform/ServiceManager.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ProfileFile.h"
#include "support/TempDir.h"

namespace rq::platform {
namespace {

namespace fs = std::filesystem;
using rq::test::TempDir;

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("RQ_SYSTEM_DIR");
    saved = old != nullptr ? old : "";
    hadSaved = old != nullptr;
    ::setenv("RQ_SYSTEM_DIR", (system / "sys").c_str(), 1);
  }
  void TearDown() override {
    if (hadSaved) {
      ::setenv("RQ_SYSTEM_DIR", saved.c_str(), 1);
    } else {
      ::unsetenv("RQ_SYSTEM_DIR");
    }
  }
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = work / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  std::string Read(const std::string& name) {
    for (int i = 0; i < 200 && !fs::exists(work / name); ++i) ::usleep(10000);
    std::ifstream file(work / name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  TempDir system;
  TempDir work;
  std::string saved;
  bool hadSaved = false;
};

TEST_F(ServiceManagerTest, RegistersOnceAndOpensByName) {
  auto manager = ServiceManager::Open();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->OpenService("ZQ_I2cIo"), nullptr);
  std::unique_ptr<Service> created;
  EXPECT_EQ(manager->CreateService("ZQ_I2cIo", "ZQ_I2cIo", "/opt/x/ZQ_I2cIo", created),
            CreateServiceResult::Created);
  EXPECT_NE(created, nullptr);
  EXPECT_EQ(GetPrivateProfileString("zq_i2cio", "ImagePath", "", system / "sys/services.ini"),
            "/opt/x/ZQ_I2cIo");

  auto again = ServiceManager::Open();  // a fresh manager reads the registry from disk
  EXPECT_NE(again->OpenService("ZQ_I2cIo"), nullptr);
  std::unique_ptr<Service> second;
  EXPECT_EQ(again->CreateService("ZQ_I2cIo", "other", "/elsewhere", second),
            CreateServiceResult::AlreadyExists);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(again->CreateService("", "x", "/p", second), CreateServiceResult::Failed);
  EXPECT_EQ(again->CreateService("a]b", "x", "/p", second), CreateServiceResult::Failed);
}

TEST_F(ServiceManagerTest, StartRunsTheProgramDetachedAndWaitsForItsByte) {
  const std::string program = Script("daemon", R"(
[ "$1" = "--ready-fd" ] || exit 3
ls /proc/$$/fd > "$(dirname "$0")/fds.tmp"
ps -o sid= -p $$ | tr -d ' ' > "$(dirname "$0")/sid.tmp"
mv "$(dirname "$0")/fds.tmp" "$(dirname "$0")/fds"
mv "$(dirname "$0")/sid.tmp" "$(dirname "$0")/sid"
printf x >&"$2"
)");
  // A descriptor without close-on-exec, like an instance lock: the daemon must not keep it.
  const int opened = ::open((work / "lockfile").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(opened, 0);
  const int leaked = ::dup2(opened, 57);  // well clear of the descriptor the program is given
  ::close(opened);
  ASSERT_EQ(leaked, 57);
  auto manager = ServiceManager::Open();
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->CreateService("svc", "svc", program, service), CreateServiceResult::Created);
  EXPECT_TRUE(service->Start());
  std::istringstream fds(Read("fds"));
  std::vector<int> open;
  for (int fd; fds >> fd;) open.push_back(fd);
  EXPECT_THAT(open, ::testing::Not(::testing::Contains(leaked)));
  EXPECT_NE(std::stoi(Read("sid")), ::getsid(0));  // its own session
  ::close(leaked);
}

TEST_F(ServiceManagerTest, StartFailsWhenTheProgramEndsOrIsMissing) {
  auto manager = ServiceManager::Open();
  std::unique_ptr<Service> quits, missing;
  manager->CreateService("quits", "quits", Script("quits", "exit 1\n"), quits);
  manager->CreateService("missing", "missing", work / "nothing-here", missing);
  EXPECT_FALSE(quits->Start());
  EXPECT_FALSE(missing->Start());
}

TEST_F(ServiceManagerTest, AProgramOthersMayWriteIsNotStarted) {
  auto manager = ServiceManager::Open();
  std::unique_ptr<Service> service;
  const std::string program = Script("open", "touch \"$(dirname \"$0\")/ran\"\nprintf x >&\"$2\"\n");
  manager->CreateService("open", "open", program, service);
  ::chmod(program.c_str(), 0777);
  EXPECT_FALSE(service->Start());
  EXPECT_FALSE(fs::exists(work / "ran"));
  ::chmod(program.c_str(), 0700);
  EXPECT_TRUE(service->Start());
}

// Stopping ends the processes that run the service's program file, and only
// those; like the daemon, the stand-in ends cleanly on SIGTERM, even when stopped.
TEST_F(ServiceManagerTest, StopEndsTheProgramsProcesses) {
  const std::string program = work / "daemon";
  fs::copy_file("/bin/sh", program);
  auto manager = ServiceManager::Open();
  std::unique_ptr<Service> service;
  manager->CreateService("sleeper", "sleeper", program, service);
  const auto spawn = [](const std::string& file) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(file.c_str(), file.c_str(), "-c", "trap 'exit 0' TERM; while :; do sleep 0.05; done",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  };
  const pid_t daemon = spawn(program);
  const pid_t bystander = spawn("/bin/sh");
  ::usleep(100000);         // both have reached exec
  ::kill(daemon, SIGSTOP);  // a stopped daemon still ends
  EXPECT_TRUE(service->Stop());
  int status = 0;
  ASSERT_EQ(::waitpid(daemon, &status, 0), daemon);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);  // its own clean end, not the SIGKILL
  EXPECT_EQ(::waitpid(bystander, &status, WNOHANG), 0);        // still running
  ::kill(bystander, SIGKILL);
  ::waitpid(bystander, &status, 0);
}

}  // namespace
}  // namespace rq::platform
