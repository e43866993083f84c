#include "hw/DriverSetup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/MessageBox.h"
#include "support/TempDir.h"

namespace rq::hw {
namespace {

namespace fs = std::filesystem;
using platform::CreateServiceResult;
using test::TempDir;
using ::testing::ElementsAre;

std::string ReadFile(const std::string& path) {
  std::string content;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[256];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
    std::fclose(file);
  }
  return content;
}

class NullHandle : public DriverHandle {
 public:
  bool DeviceIoControl(std::uint32_t, std::uint8_t*, std::uint32_t) override { return true; }
};

// Everything the set-up did, in order.
struct Journal {
  std::vector<std::string> calls;
  std::vector<std::string> boxes;
  bool deviceOpenable = false;
  bool registered = false;
  bool startSucceeds = true;
  CreateServiceResult createResult = CreateServiceResult::Created;
  std::string createdPath;
};

class FakeService : public platform::Service {
 public:
  FakeService(Journal& journal, std::string what) : journal_(journal), what_(std::move(what)) {}
  bool Start() override {
    journal_.calls.push_back("start " + what_);
    if (journal_.startSucceeds) journal_.deviceOpenable = true;
    return journal_.startSucceeds;
  }
  bool Stop() override {
    journal_.calls.push_back("stop " + what_);
    return true;
  }

 private:
  Journal& journal_;
  std::string what_;
};

class FakeManager : public platform::ServiceManager {
 public:
  explicit FakeManager(Journal& journal) : journal_(journal) {}
  std::unique_ptr<platform::Service> OpenService(const std::string& name) override {
    journal_.calls.push_back("open service " + name);
    if (!journal_.registered) return nullptr;
    return std::make_unique<FakeService>(journal_, "registered");
  }
  CreateServiceResult CreateService(const std::string& name, const std::string& displayName,
                                    const std::string& programPath,
                                    std::unique_ptr<platform::Service>& created) override {
    journal_.calls.push_back("create " + name + " " + displayName);
    journal_.createdPath = programPath;
    if (journal_.createResult == CreateServiceResult::Created) {
      created = std::make_unique<FakeService>(journal_, "created");
    }
    return journal_.createResult;
  }

 private:
  Journal& journal_;
};

class DriverSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, unsigned flags) {
          journal.boxes.push_back(text + "|" + caption + "|" + std::to_string(flags));
          return platform::kIdOk;
        });
    environment.openDevice = [this]() -> std::unique_ptr<DriverHandle> {
      journal.calls.push_back("open device");
      if (!journal.deviceOpenable) return nullptr;
      return std::make_unique<NullHandle>();
    };
    environment.openServiceManager = [this] {
      journal.calls.push_back("open manager");
      return std::make_unique<FakeManager>(journal);
    };
    environment.systemDirectory = system.Path();
    environment.currentDirectory = current.Path();
  }
  void TearDown() override { platform::SetMessageBoxHandler({}); }

  void PutProgramInCurrentFolder(const std::string& content = "#!/bin/sh\n") {
    std::ofstream(current / kDriverFileName) << content;
  }
  std::string Target() const { return system / "drivers/ZQ_I2cIo"; }

  Journal journal;
  TempDir system;
  TempDir current;
  DriverSetupEnvironment environment;
};

TEST_F(DriverSetupTest, AnOpenableDeviceNeedsNoServiceCall) {
  journal.deviceOpenable = true;
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_THAT(journal.calls, ElementsAre("open device"));
}

TEST_F(DriverSetupTest, ARegisteredServiceThatStartsIsOpenedAgain) {
  journal.registered = true;
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_THAT(journal.calls, ElementsAre("open device", "open manager", "open service ZQ_I2cIo",
                                         "start registered", "open device"));
}

TEST_F(DriverSetupTest, ProgramInNeitherPlaceFailsWithoutAMessage) {
  EXPECT_EQ(SetUpDriver(environment), nullptr);
  EXPECT_TRUE(journal.boxes.empty());
  EXPECT_THAT(journal.calls, ElementsAre("open device", "open manager", "open service ZQ_I2cIo"));
  EXPECT_FALSE(fs::exists(system / "drivers"));
}

TEST_F(DriverSetupTest, CopiesTheProgramFromTheCurrentFolderAndRegistersIt) {
  PutProgramInCurrentFolder("#!/bin/sh\necho daemon\n");
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_THAT(journal.calls,
              ElementsAre("open device", "open manager", "open service ZQ_I2cIo", "open manager",
                          "create ZQ_I2cIo ZQ_I2cIo", "start created", "open device"));
  EXPECT_EQ(journal.createdPath, Target());
  EXPECT_EQ(ReadFile(Target()), "#!/bin/sh\necho daemon\n");
  EXPECT_NE(fs::status(Target()).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_FALSE(fs::exists(Target() + ".part"));
  EXPECT_TRUE(journal.boxes.empty());
}

TEST_F(DriverSetupTest, AnInstalledCopyThatDiffersIsReplacedOnceItsServiceStopped) {
  fs::create_directories(system / "drivers");
  std::ofstream(Target()) << "installed";
  PutProgramInCurrentFolder("newer");
  journal.registered = true;
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_EQ(ReadFile(Target()), "newer");
  EXPECT_FALSE(fs::exists(Target() + ".part"));
  EXPECT_THAT(journal.calls,
              ElementsAre("open device", "open manager", "open service ZQ_I2cIo", "stop registered",
                          "open manager", "open service ZQ_I2cIo", "start registered", "open device"));
}

TEST_F(DriverSetupTest, AnInstalledCopyLikeTheProgramIsLeftAlone) {
  fs::create_directories(system / "drivers");
  std::ofstream(Target()) << "same";
  PutProgramInCurrentFolder("same");
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(Target().c_str(), &before), 0);
  journal.registered = true;
  EXPECT_NE(SetUpDriver(environment), nullptr);
  ASSERT_EQ(::stat(Target().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_THAT(journal.calls, ::testing::Not(::testing::Contains("stop registered")));
}

// A daemon file another user owns or may write, or a link in its place, is
// neither copied nor run; the set-up fails without a box.
TEST_F(DriverSetupTest, ADaemonFileOthersControlIsNeverCopiedOrRun) {
  struct Case {
    const char* what;
    bool installed;  // the file is the installed copy rather than the one in the current folder
    std::function<void(const std::string&)> spoil;
  };
  const auto mode = [](mode_t m) { return [m](const std::string& path) { ::chmod(path.c_str(), m); }; };
  std::vector<Case> cases = {
      {"group-writable", false, mode(0775)},
      {"world-writable", false, mode(0757)},
      {"installed, group-writable", true, mode(0770)},
      {"a link", false,
       [this](const std::string& path) {
         std::ofstream(system / "elsewhere") << "#!/bin/sh\n";
         fs::remove(path);
         fs::create_symlink(system / "elsewhere", path);
       }},
  };
  if (::geteuid() == 0) {
    cases.push_back({"another user's", false,
                     [](const std::string& path) { ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0); }});
    cases.push_back({"installed, another user's", true,
                     [](const std::string& path) { ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0); }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(system / "drivers");
    fs::remove(current / kDriverFileName);
    journal = Journal{};
    if (c.installed) {
      fs::create_directories(system / "drivers");
      std::ofstream(Target()) << "#!/bin/sh\n";
      ::chmod(Target().c_str(), 0700);
      journal.registered = true;
    } else {
      PutProgramInCurrentFolder();
    }
    c.spoil(c.installed ? Target() : current / kDriverFileName);
    EXPECT_EQ(SetUpDriver(environment), nullptr);
    EXPECT_EQ(fs::exists(Target()), c.installed);
    EXPECT_THAT(journal.calls, ::testing::Not(::testing::Contains(::testing::StartsWith("start"))));
    EXPECT_TRUE(journal.boxes.empty());
  }
}

TEST_F(DriverSetupTest, AnExistingServiceShowsItsMessageAndFails) {
  PutProgramInCurrentFolder();
  journal.createResult = CreateServiceResult::AlreadyExists;
  EXPECT_EQ(SetUpDriver(environment), nullptr);
  EXPECT_THAT(journal.boxes, ElementsAre("failure: CreateService, ERROR_SERVICE_EXISTS !|Error|262144"));
}

TEST_F(DriverSetupTest, AnyOtherCreationFailureShowsTheOtherMessage) {
  PutProgramInCurrentFolder();
  journal.createResult = CreateServiceResult::Failed;
  EXPECT_EQ(SetUpDriver(environment), nullptr);
  EXPECT_THAT(journal.boxes, ElementsAre("CreateService failure!|Error|262144"));
}

TEST_F(DriverSetupTest, AServiceThatDoesNotStartFailsWithoutAMessage) {
  PutProgramInCurrentFolder();
  journal.startSucceeds = false;
  EXPECT_EQ(SetUpDriver(environment), nullptr);
  EXPECT_TRUE(journal.boxes.empty());
  EXPECT_EQ(journal.calls.back(), "start created");
}

TEST_F(DriverSetupTest, TheProgramBesideTheExecutableServesWhenTheCurrentFolderHasNone) {
  TempDir program;
  TempDir helpers;
  std::ofstream(helpers / kDriverFileName) << "installed helper";
  environment.programDirectory = program.Path();
  environment.helperDirectory = helpers.Path();
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_EQ(ReadFile(Target()), "installed helper");
  // Beside the program (the build folder) comes before the helper folder ...
  std::ofstream(program / kDriverFileName) << "beside the program";
  fs::remove(Target());
  journal = Journal{};
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_EQ(ReadFile(Target()), "beside the program");
  // ... and the current folder's copy before both.
  fs::remove(Target());
  journal = Journal{};
  PutProgramInCurrentFolder("in the current folder");
  EXPECT_NE(SetUpDriver(environment), nullptr);
  EXPECT_EQ(ReadFile(Target()), "in the current folder");
}

TEST_F(DriverSetupTest, WithoutADriverTheReportSaysWhatIsMissingAndWhereItLooked) {
  TempDir program;
  TempDir helpers;
  environment.programDirectory = program.Path();
  environment.helperDirectory = helpers.Path();
  DriverSetupReport report;
  EXPECT_EQ(SetUpDriver(environment, &report), nullptr);
  EXPECT_FALSE(report.messageShown);
  EXPECT_THAT(report.lookedIn, ElementsAre(Target(), current / kDriverFileName, program / kDriverFileName,
                                           helpers / kDriverFileName));
  const std::string text = report.Explanation();
  EXPECT_THAT(text, ::testing::HasSubstr("ZQ_I2cIo is missing"));
  for (const std::string& path : report.lookedIn) EXPECT_THAT(text, ::testing::HasSubstr(path));

  // A file found but refused is named with the reason.
  PutProgramInCurrentFolder();
  ::chmod((current / kDriverFileName).c_str(), 0777);
  report = DriverSetupReport{};
  EXPECT_EQ(SetUpDriver(environment, &report), nullptr);
  EXPECT_THAT(report.Explanation(), ::testing::HasSubstr("Not used: " + current / kDriverFileName));

  // Set-up that showed its own message is not explained a second time.
  ::chmod((current / kDriverFileName).c_str(), 0700);
  journal.createResult = CreateServiceResult::Failed;
  report = DriverSetupReport{};
  EXPECT_EQ(SetUpDriver(environment, &report), nullptr);
  EXPECT_TRUE(report.messageShown);
}

// A daemon that answers the build request with `digest` (none: a build older than the request).
struct BuildHandle : DriverHandle {
  explicit BuildHandle(std::optional<std::uint64_t> reported) : digest(reported) {}
  bool DeviceIoControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length) override {
    if (code != 0x0022605C || length != 24 || !digest) return false;
    for (int i = 0; i < 8; ++i) buffer[16 + i] = static_cast<std::uint8_t>(*digest >> (8 * i));
    return true;
  }
  std::optional<std::uint64_t> digest;
};

TEST_F(DriverSetupTest, AUserDaemonOfAnotherBuildIsStoppedAndStartedAnewButNotTheSystemService) {
  static constexpr std::uint64_t kDigestOfA = 0xaf63dc4c8601ec8cULL;  // FNV-1a of the daemon file "a"
  struct Case {
    const char* name;
    std::optional<std::uint64_t> reported;
    bool system;
    bool replaced;
  };
  const Case cases[] = {{"same build", kDigestOfA, false, false},
                        {"another build", kDigestOfA ^ 1, false, true},
                        {"older, no build request", std::nullopt, false, true},
                        {"the system service", kDigestOfA ^ 1, true, false}};
  PutProgramInCurrentFolder("a");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    journal = Journal{};
    journal.deviceOpenable = true;
    environment.openDevice = [this, &c]() -> std::unique_ptr<DriverHandle> {
      journal.calls.push_back("open device");
      if (!journal.deviceOpenable) return nullptr;
      return std::make_unique<BuildHandle>(journal.registered ? kDigestOfA : c.reported);
    };
    environment.systemDaemon = [&c] { return c.system; };
    environment.stopDaemon = [this] {
      journal.calls.push_back("stop daemon");
      journal.deviceOpenable = false;
      journal.registered = true;  // what starts next is the file's build
      return true;
    };
    const auto handle = SetUpDriver(environment);
    ASSERT_NE(handle, nullptr);
    const std::vector<std::string> replacing = {"open device",           "stop daemon",      "open manager",
                                                "open service ZQ_I2cIo", "start registered", "open device"};
    EXPECT_EQ(journal.calls, c.replaced ? replacing : std::vector<std::string>{"open device"});
  }
}

TEST(DriverSourcePath, AddsASlashOnlyWhenMissing) {
  EXPECT_EQ(DriverSourcePath("/opt/rq"), "/opt/rq/ZQ_I2cIo");
  EXPECT_EQ(DriverSourcePath("/opt/rq/"), "/opt/rq/ZQ_I2cIo");
  EXPECT_EQ(DriverSourcePath("/"), "/ZQ_I2cIo");
}

}  // namespace
}  // namespace rq::hw
