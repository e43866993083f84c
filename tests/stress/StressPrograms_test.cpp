#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/Process.h"
#include "platform/TopWindows.h"
#include "platform/XvfbServer.h"

namespace rq::platform {
namespace {

using namespace std::chrono_literals;

struct StressProgram {
  const char* program;
  const char* title;
};

void PrintTo(const StressProgram& stress, std::ostream* out) { *out << stress.program; }

// CPU seconds the process has used so far, its threads included.
double CpuSeconds(pid_t pid) {
  const std::string text = test::ReadAll("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  // After the command name: state is field 3; utime and stime are fields 14 and 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stoull(field);
    if (n == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Where the window's top-left corner sits on the screen.
std::pair<int, int> ScreenPosition(WindowId window) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  auto* reply = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr);
  std::pair<int, int> position{-1, -1};
  if (reply != nullptr) position = {reply->dst_x, reply->dst_y};
  std::free(reply);
  xcb_disconnect(c);
  return position;
}

class StressProgramTest : public ::testing::TestWithParam<StressProgram> {};

// The system's OpenGL driver, which a sanitizer build of Loomfield loads, leaves a
// few allocations behind and is unloaded before the leak check, so no suppression
// can name it: the stress programs started here do without leak checking there.
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kChildSanitizerOptions = "detect_leaks=0:abort_on_error=1";
#else
constexpr const char* kChildSanitizerOptions = nullptr;
#endif

TEST_P(StressProgramTest, OpensItsWindowLoadsTheMachineAndClosesOnRequest) {
  if (!test::XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer server;
  ASSERT_TRUE(server.Running());
  // As on a Wayland session with XWayland (which the virtual display stands in for):
  // no platform asked for, the program must still choose X11.
  test::ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
  test::ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-rq-absent");
  test::ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  std::optional<test::ScopedEnv> sanitizer;
  if (kChildSanitizerOptions != nullptr) sanitizer.emplace("ASAN_OPTIONS", kChildSanitizerOptions);
  const StressProgram& stress = GetParam();

  auto process = Process::Start(stress.program);
  ASSERT_NE(process, nullptr) << stress.program << " not found beside the tests";
  std::vector<WindowId> windows;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (windows.empty() && !process->Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
    windows = FindTopWindows(stress.title);
  }
  ASSERT_EQ(windows.size(), 1u) << "window \"" << stress.title << "\" not found";
  EXPECT_EQ(ScreenPosition(windows.front()), std::make_pair(0, 0));

  const double cpuBefore = CpuSeconds(process->Pid());
  const auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1500ms);
  ASSERT_FALSE(process->Ended()) << stress.program << " ended on its own";
  const double cpu = CpuSeconds(process->Pid()) - cpuBefore;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  // An idle window uses next to nothing; a busy one gets a clear share of a core
  // even while the rest of the suite competes for the same two cores.
  EXPECT_GT(cpu, 0.1 * wall) << stress.program << " barely uses the processor";

  EXPECT_EQ(CloseTopWindows(stress.title), 1u);
  const bool ended = process->Wait(20000);
  if (!ended) process->Kill();
  ASSERT_TRUE(ended) << stress.program << " ignored the close request";
  EXPECT_EQ(process->ExitCode(), 0);
  EXPECT_TRUE(FindTopWindows(stress.title).empty());
}

INSTANTIATE_TEST_SUITE_P(Programs, StressProgramTest,
                         ::testing::Values(StressProgram{"Loomfield", "Testing Program"},
                                           StressProgram{"Pallwick", "DirectDraw Testing Program"},
                                           StressProgram{"Graniton", "DShow Testing"}),
                         [](const auto& programInfo) { return std::string(programInfo.param.program); });

}  // namespace
}  // namespace rq::platform
