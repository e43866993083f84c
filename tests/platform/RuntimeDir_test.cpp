#include "platform/RuntimeDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
