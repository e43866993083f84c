// The per-user settings folder the installed launcher starts the program in.
#include "engine/StateFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
  void SetUp() override { ASSERT_TRUE(getcwd(startedIn_, sizeof startedIn_)); }
  void TearDown() override { ASSERT_EQ(chdir(startedIn_), 0); }
  fs::path Cwd() const { return fs::current_path(); }

  TempDir root;
  fs::path folder = fs::path(root.Path()) / "state" / "deep" / "rhomboquest";

 private:
  char startedIn_[4096] = {};
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

TEST_F(StateFolderTest, IsCreatedPrivateEnteredAndSeededWithTheShippedSections) {
  ASSERT_EQ(EnterStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Cwd(), folder);
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
  ASSERT_EQ(EnterStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  std::ofstream(folder / "torvane.ini", std::ios::trunc) << "[mine]\nkept=1\n";
  ASSERT_EQ(EnterStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Read(folder / "torvane.ini"), "[mine]\nkept=1\n");
  // A link in its place is the user's too: nothing is written through it.
  fs::remove(folder / "torvane.ini");
  fs::create_symlink(fs::path(root.Path()) / "elsewhere.ini", folder / "torvane.ini");
  ASSERT_EQ(EnterStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_FALSE(fs::exists(fs::path(root.Path()) / "elsewhere.ini"));
}

TEST_F(StateFolderTest, AFolderOfOursOpenToOthersIsClosed) {
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);
  ASSERT_EQ(EnterStateFolder(folder.string(), "torvane.ini"), std::nullopt);
  EXPECT_EQ(Mode(folder), 0700u);
}

TEST_F(StateFolderTest, RefusesFoldersSomeoneElseCouldHaveChosen) {
  const fs::path target = fs::path(root.Path()) / "target";
  fs::create_directories(target);
  fs::create_directories(folder.parent_path());
  fs::create_symlink(target, folder);
  auto problem = EnterStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("symbolic link"), std::string::npos) << *problem;
  EXPECT_TRUE(fs::is_empty(target));
  fs::remove(folder);

  // A parent others may write to (and not sticky) lets them swap the folder.
  fs::permissions(folder.parent_path(), fs::perms::all);
  problem = EnterStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("may be written by other users"), std::string::npos) << *problem;
  EXPECT_FALSE(fs::exists(folder));
  fs::permissions(folder.parent_path(), fs::perms::owner_all);

  if (geteuid() != 0) GTEST_SKIP() << "handing the folder to another user needs root";
  fs::create_directories(folder);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  problem = EnterStateFolder(folder.string(), "torvane.ini");
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("belongs to another user"), std::string::npos) << *problem;
  EXPECT_FALSE(fs::exists(folder / "torvane.ini"));
}

}  // namespace
}  // namespace rq::engine
