#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/TestSupport.h"

namespace rq::platform {
namespace {

using namespace std::chrono_literals;

TEST(ProcessTest, SplitsCommandLinesWithQuotesAndEscapes) {
  EXPECT_EQ(SplitCommandLine("Loomfield"), (std::vector<std::string>{"Loomfield"}));
  EXPECT_EQ(SplitCommandLine("  a\t b  "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitCommandLine(R"(sh -c "echo  two words" "")"),
            (std::vector<std::string>{"sh", "-c", "echo  two words", ""}));
  EXPECT_EQ(SplitCommandLine(R"(a\"b c\\d e\f)"), (std::vector<std::string>{"a\"b", "c\\d", "e\\f"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(ProcessTest, RunsFromTheSearchPathWithEnvironmentAndCurrentDirectory) {
  test::TempDir dir;
  test::ScopedCwd cwd(dir.Path());
  test::ScopedEnv env("RQ_PROCESS_TEST", "inherited");
  auto process = Process::Start(R"(sh -c "echo $RQ_PROCESS_TEST > out.txt; exit 3")");
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->Wait());
  EXPECT_EQ(process->ExitCode(), 3);
  EXPECT_EQ(test::ReadAll(dir / "out.txt"), "inherited\n");
}

TEST(ProcessTest, ProgramFolderComesBeforeTheSearchPath) {
  // This test program lives in the program folder; a decoy of the same name on
  // the search path must lose.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  test::TempDir decoys;
  test::WriteAll(decoys / self, "#!/bin/sh\nexit 7\n");
  ::chmod((decoys / self).c_str(), 0755);
  test::ScopedEnv path("PATH", decoys.Path() + ":" + ::getenv("PATH"));
  auto process = Process::Start(self + " --gtest_filter=NoSuchTest");
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->Wait());
  EXPECT_EQ(process->ExitCode(), 0);
}

TEST(ProcessTest, InstalledHelpersAreFoundInTheHelperFolderBesideBin) {
  // bin/x finds libexec/rhomboquest/y, whatever the prefix.
  const std::filesystem::path own = ProgramDirectory();
  EXPECT_EQ(HelperProgramDirectory(), (own.parent_path() / "libexec" / "rhomboquest").string());
  EXPECT_EQ(SharedDataDirectory(), (own.parent_path() / "share" / "rhomboquest").string());
  const std::string name = "rq-helper-probe-" + std::to_string(::getpid());
  const std::filesystem::path helper = std::filesystem::path(HelperProgramDirectory()) / name;
  std::filesystem::create_directories(helper.parent_path());
  test::WriteAll(helper.string(), "#!/bin/sh\nexit 7\n");
  ::chmod(helper.c_str(), 0755);
  test::ScopedEnv path("PATH", "/nonexistent");
  auto process = Process::Start(name);
  const bool ended = process != nullptr && process->Wait();
  std::filesystem::remove(helper);  // only now: the shell opens the script after the start
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(ended);
  EXPECT_EQ(process->ExitCode(), 7);
}

TEST(ProcessTest, MissingOrNonExecutableProgramGivesNoProcess) {
  test::TempDir dir;
  test::WriteAll(dir / "plain", "#!/bin/sh\n");
  test::ScopedEnv path("PATH", dir.Path());
  EXPECT_EQ(Process::Start("rq-no-such-program"), nullptr);
  EXPECT_EQ(Process::Start("plain"), nullptr);
  EXPECT_EQ(Process::Start(dir / "plain"), nullptr);
  EXPECT_EQ(Process::Start(""), nullptr);
  EXPECT_EQ(Process::Start(dir.Path()), nullptr);
}

TEST(ProcessTest, WaitsForASetWithAndWithoutTimeOut) {
  auto quick = Process::Start("sleep 0.05");
  auto slower = Process::Start("sleep 0.2");
  auto stuck = Process::Start("sleep 30");
  ASSERT_TRUE(quick && slower && stuck);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitForProcesses({quick.get(), stuck.get()}, 300));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_TRUE(quick->Ended());
  EXPECT_TRUE(WaitForProcesses({quick.get(), nullptr, slower.get()}));
  EXPECT_EQ(slower->ExitCode(), 0);
  EXPECT_FALSE(stuck->Wait(0));
  stuck->Kill();
  EXPECT_TRUE(stuck->Wait(5000));
  EXPECT_EQ(stuck->TermSignal(), SIGKILL);
  EXPECT_EQ(stuck->ExitCode(), std::nullopt);
  EXPECT_TRUE(WaitForProcesses({}, 0));
}

TEST(ProcessTest, ChildStartsWithDefaultSignalHandling) {
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ignore, &previous);
  auto child = Process::Start("sleep 30");
  ::sigaction(SIGTERM, &previous, nullptr);
  ASSERT_NE(child, nullptr);
  ::kill(child->Pid(), SIGTERM);
  EXPECT_TRUE(child->Wait(5000));
  if (!child->Ended()) child->Kill();
}

TEST(ProcessTest, FreeingTheHandleLeavesTheProgramRunningAndLeavesNoZombie) {
  const std::string marker = test::TempDir().Path();  // a path that is free now
  auto process = Process::Start("sh -c \"sleep 0.3; mkdir " + marker + "\"");
  ASSERT_NE(process, nullptr);
  const pid_t pid = process->Pid();
  process.reset();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_NE(::kill(pid, 0), 0) << "still there (a zombie?)";
  EXPECT_TRUE(std::filesystem::exists(marker)) << "the program was cut short";
  std::filesystem::remove(marker);
}

}  // namespace
}  // namespace rq::platform
