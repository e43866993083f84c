#include "platform/RuntimeDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/TestSupport.h"

namespace rq::platform {
namespace {

using test::ScopedEnv;
using test::TempDir;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

TEST(RuntimeDirTest, OverrideIsCreatedPrivately) {
  TempDir dir;
  const std::string wanted = dir / "a/b/runtime";
  ScopedEnv env("RQ_RUNTIME_DIR", wanted + "/");
  EXPECT_EQ(RuntimeDir(), wanted);
  EXPECT_EQ(ModeOf(wanted), 0700u);
}

TEST(RuntimeDirTest, FallsBackToXdgRuntimeDirThenTmp) {
  TempDir dir;
  ScopedEnv noOverride("RQ_RUNTIME_DIR", std::nullopt);
  {
    ScopedEnv xdg("XDG_RUNTIME_DIR", dir.Path());
    EXPECT_EQ(RuntimeDir(), dir / "rhomboquest");
    EXPECT_EQ(ModeOf(dir / "rhomboquest"), 0700u);
    // A default folder that others may enter is closed to them again.
    ::chmod((dir / "rhomboquest").c_str(), 0755);
    EXPECT_EQ(RuntimeDir(), dir / "rhomboquest");
    EXPECT_EQ(ModeOf(dir / "rhomboquest"), 0700u);
  }
  ScopedEnv noXdg("XDG_RUNTIME_DIR", std::nullopt);
  EXPECT_EQ(RuntimeDir(), "/tmp/rhomboquest-" + std::to_string(::geteuid()));
}

TEST(RuntimeDirTest, RefusesAFolderOfAnotherUserOrAFile) {
  TempDir dir;
  const std::string file = dir / "file";
  test::WriteAll(file, "x");
  {
    ScopedEnv env("RQ_RUNTIME_DIR", file);
    EXPECT_EQ(RuntimeDir(), "");
  }
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  const std::string foreign = dir / "foreign";
  ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  ScopedEnv env("RQ_RUNTIME_DIR", foreign);
  EXPECT_EQ(RuntimeDir(), "");
  // A link of ours that leads to that folder is refused too.
  const std::string link = dir / "link";
  std::filesystem::create_directory_symlink(foreign, link);
  ScopedEnv viaLink("RQ_RUNTIME_DIR", link);
  EXPECT_EQ(RuntimeDir(), "");
}

TEST(RuntimeDirTest, CandidatesEndInAFolderUnderTheHome) {
  const std::string tmp = "/tmp/rhomboquest-" + std::to_string(::geteuid());
  ScopedEnv noOverride("RQ_RUNTIME_DIR", std::nullopt);
  ScopedEnv home("HOME", "/home/someone/");
  ScopedEnv cache("XDG_CACHE_HOME", std::nullopt);
  {
    ScopedEnv xdg("XDG_RUNTIME_DIR", "/run/user/7/");
    EXPECT_EQ(RuntimeDirCandidates(), (std::vector<std::string>{"/run/user/7/rhomboquest", tmp,
                                                                "/home/someone/.cache/rhomboquest/run"}));
  }
  ScopedEnv noXdg("XDG_RUNTIME_DIR", std::nullopt);
  EXPECT_EQ(RuntimeDirCandidates(), (std::vector<std::string>{tmp, "/home/someone/.cache/rhomboquest/run"}));
  ScopedEnv ownCache("XDG_CACHE_HOME", "/cache");
  EXPECT_EQ(RuntimeDirCandidates(), (std::vector<std::string>{tmp, "/cache/rhomboquest/run"}));
  ScopedEnv override("RQ_RUNTIME_DIR", "/somewhere/");
  EXPECT_EQ(RuntimeDirCandidates(), std::vector<std::string>{"/somewhere"});
}

TEST(RuntimeDirTest, PassesOverFoldersTakenByOthersLinksAndFiles) {
  TempDir dir;
  const std::string fallback = dir / "home/.cache/rhomboquest/run";
  const std::string file = dir / "file";
  test::WriteAll(file, "x");
  const std::string ours = dir / "ours";
  ASSERT_EQ(::mkdir(ours.c_str(), 0700), 0);
  const std::string link = dir / "link";
  std::filesystem::create_directory_symlink(ours, link);
  std::vector<std::string> taken = {file, link};
  if (::geteuid() == 0) {
    const std::string foreign = dir / "foreign";
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    taken.push_back(foreign);
  }
  for (const std::string& path : taken) {
    const RuntimeDirChoice choice = ChooseRuntimeDir({path, fallback}, true);
    EXPECT_EQ(choice.path, fallback) << path;
    ASSERT_EQ(choice.refused.size(), 1u) << path;
    EXPECT_EQ(choice.refused[0].find(path), 0u) << choice.refused[0];
  }
  EXPECT_EQ(ModeOf(fallback), 0700u);
  EXPECT_EQ(ModeOf(dir / "home/.cache"), 0700u);

  const RuntimeDirChoice none = ChooseRuntimeDir({file, link}, true);
  EXPECT_EQ(none.path, "");
  EXPECT_EQ(none.refused.size(), 2u);
}

TEST(RuntimeDirTest, NoUsableFolderIsShownOnceInAMessageBox) {
  TempDir dir;
  const std::string file = dir / "file";
  test::WriteAll(file, "x");
  std::vector<std::string> shown;
  SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned flags) {
    EXPECT_EQ(flags & kMbIconError, kMbIconError);
    shown.push_back(text);
    return kIdOk;
  });
  {
    ScopedEnv env("RQ_RUNTIME_DIR", file);
    EXPECT_EQ(RuntimeDir(), "");
    EXPECT_EQ(RuntimeDir(), "");
  }
  SetMessageBoxHandler({});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(file + " is not a folder"), std::string::npos) << shown[0];
}

TEST(SystemDirectoryTest, OverrideThenXdgDataHomeThenHome) {
  {
    ScopedEnv env("RQ_SYSTEM_DIR", "/opt/rq/system/");
    EXPECT_EQ(SystemDirectory(), "/opt/rq/system");
  }
  ScopedEnv noOverride("RQ_SYSTEM_DIR", std::nullopt);
  {
    ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(SystemDirectory(), "/data/rhomboquest/system");
  }
  ScopedEnv noData("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(SystemDirectory(), "/home/someone/.local/share/rhomboquest/system");
}

}  // namespace
}  // namespace rq::platform
