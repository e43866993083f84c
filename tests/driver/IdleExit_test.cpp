// The user's daemon ends after ten idle minutes, on a clock the test drives.
#include "driver/IdleExit.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "driver/RequestServer.h"
#include "driver/VirtualBoardBackend.h"
#include "sim/Board.h"
#include "support/TempDir.h"

namespace rq::driver {
namespace {

using namespace std::chrono_literals;

TEST(IdleExit, TenMinutesWithoutClientOrArmedWatchdogEndTheDaemon) {
  test::TempDir dir;
  sim::ManualTimeSource time;
  auto board = sim::Board::Shipped("default", time);
  VirtualBoardBackend backend(*board, VirtualBoardBackend::WhenHung::Fail);
  Dispatcher dispatcher(backend);
  RequestServer server(dispatcher, ListenUnix(dir / "s", SOCK_SEQPACKET));
  server.Start();
  const IdleExit::Clock::time_point start{};
  IdleExit idle(server, *board, start);
  Fd client;
  const auto connect = [&](bool on) {
    client = on ? ConnectUnix(dir / "s", SOCK_SEQPACKET) : Fd();
    for (int i = 0; i < 400 && (server.ClientCount() > 0) != on; ++i) std::this_thread::sleep_for(5ms);
  };
  const auto arm = [&](bool on) {
    auto lock = board->Lock();
    board->Dog().Enable(on);
  };
  struct Step {
    std::chrono::seconds at;  // since the start
    std::function<void()> change;
    bool due;
  };
  // Idle from the start; a client, however quiet; idle counted from the last busy
  // look; a watched change; idle again.
  const Step steps[] = {{600s, {}, true},
                        {601s, [&] { connect(true); }, false},
                        {1500s, {}, false},
                        {1500s, [&] { connect(false); }, false},
                        {2100s, [&] { arm(true); }, false},
                        {3000s, {}, false},
                        {3000s, [&] { arm(false); }, false},
                        {3599s, {}, false},
                        {3600s, {}, true}};
  for (const Step& step : steps) {
    if (step.change) step.change();
    EXPECT_EQ(idle.Due(start + step.at), step.due) << step.at.count() << " s";
  }
}

}  // namespace
}  // namespace rq::driver
