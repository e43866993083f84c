// The per-user settings folder the installed launcher starts the program in.
#include "engine/StateFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/SettingsStore.h"
#include "platform/TestSupport.h"

namespace rq::engine {
namespace {

namespace fs = std::filesystem;
using platform::test::TempDir;

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t Mode(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class StateFolderTest : public ::testing::Test {
 protected:
  TempDir root;
  fs::path folder = fs::path(root.Path()) / "state" / "deep" / "rhomboquest";
};

TEST(StateFolderPath, FollowsTheBaseDirectoryRules) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/x/state", "/home/u", "/x/state/rhomboquest"},
      {"relative/state", "/home/u", "/home/u/.local/state/rhomboquest"},  // only absolute counts
      {"", "/home/u", "/home/u/.local/state/rhomboquest"},
      {nullptr, "/home/u", "/home/u/.local/state/rhomboquest"},
      {nullptr, nullptr, ""},
      {nullptr, "relative-home", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StateFolderPath(c.xdg, c.home), c.expected) << (c.xdg ? c.xdg : "(unset)");
}

TEST_F(StateFolderTest, IsCreatedPrivateAndSeededWithTheShippedSections) {
  ASSERT_EQ(PrepareStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(Mode(folder.parent_path()), 0700u);
  EXPECT_EQ(Mode(folder / "torvane.ini"), 0600u);
  const std::string seeded = Read(folder / "torvane.ini");
  EXPECT_NE(seeded.find("\n[ZR865]\nTempSensor1=1\nTempSensor1Label=System Temp\n"), std::string::npos)
      << seeded;
  EXPECT_NE(seeded.find("\n[KOLGRA]\n"), std::string::npos);
  EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "torvane.ini");  // no temporary left
}

TEST_F(StateFolderTest, NeverReplacesWhatTheUserHasThere) {
  ASSERT_EQ(PrepareStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  std::ofstream(folder / "torvane.ini", std::ios::trunc) << "[mine]\nkept=1\n";
  ASSERT_EQ(PrepareStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Read(folder / "torvane.ini"), "[mine]\nkept=1\n");
  // A link in its place is the user's too: nothing is written through it.
  fs::remove(folder / "torvane.ini");
  fs::create_symlink(fs::path(root.Path()) / "elsewhere.ini", folder / "torvane.ini");
  ASSERT_EQ(PrepareStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_FALSE(fs::exists(fs::path(root.Path()) / "elsewhere.ini"));
}

TEST_F(StateFolderTest, AFolderOfOursOpenToOthersIsClosed) {
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);
  ASSERT_EQ(PrepareStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Mode(folder), 0700u);
}

TEST_F(StateFolderTest, RefusesFoldersSomeoneElseCouldHaveChosen) {
  const fs::path target = fs::path(root.Path()) / "target";
  fs::create_directories(target);
  fs::create_directories(folder.parent_path());
  fs::create_symlink(target, folder);
  auto problem = PrepareStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("symbolic link"), std::string::npos) << *problem;
  EXPECT_TRUE(fs::is_empty(target));
  fs::remove(folder);

  // A parent others may write to (and not sticky) lets them swap the folder.
  fs::permissions(folder.parent_path(), fs::perms::all);
  problem = PrepareStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("may be written by other users"), std::string::npos) << *problem;
  EXPECT_FALSE(fs::exists(folder));
  fs::permissions(folder.parent_path(), fs::perms::owner_all);

  if (geteuid() != 0) GTEST_SKIP() << "handing the folder to another user needs root";
  fs::create_directories(folder);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  problem = PrepareStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("belongs to another user"), std::string::npos) << *problem;
  EXPECT_FALSE(fs::exists(folder / "torvane.ini"));
}

// engine/SettingsStore: the file the program and rqctl use, and the lock beside it.
TEST(SettingsStore, InstalledProgramAndRqctlShareOneFileAndBuildTreesTheCurrentFolder) {
  platform::test::TempDir root;
  const std::string installed = root / "usr/bin", built = root / "build/bin", home = root / "home";
  for (const std::string& folder : {installed, root / "usr/share/rhomboquest"})
    fs::create_directories(folder);
  std::ofstream(root / "usr/share/rhomboquest/torvane.ini") << "[ZR865]\n";
  const std::string state = home + "/.local/state/rhomboquest/torvane.ini";
  const struct {
    const char* named;
    bool stateFolder;  // the desktop entry's --state-folder
    std::string folder, expected;
  } cases[] = {{"", true, installed, state},
               {"", false, installed, state},
               {"", false, built, "torvane.ini"},
               {"", true, built, state}};
  for (const auto& c : cases) {
    const SettingsChoice choice = ChooseSettingsFile(c.named, c.stateFolder, c.folder, nullptr, home.c_str());
    EXPECT_EQ(choice.file, c.expected) << c.folder << c.named << c.stateFolder;
  }
}

TEST(SettingsStore, TheLockBesideTheSettingsHoldsForASecondLoginWithItsOwnRuntimeFolder) {
  platform::test::TempDir root;
  platform::test::ScopedEnv firstLogin("RQ_RUNTIME_DIR", root / "run1");
  bool taken = false;
  const InstanceLocks first = TakeInstanceLocks(root / "torvane.ini", taken);
  ASSERT_TRUE(first.Held());
  platform::test::ScopedEnv secondLogin("RQ_RUNTIME_DIR", root / "run2");
  EXPECT_FALSE(TakeInstanceLocks(root / "torvane.ini", taken).Held());
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace rq::engine
