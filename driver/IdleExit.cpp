#include "driver/IdleExit.h"

#include "driver/RequestServer.h"
#include "sim/Board.h"

namespace rq::driver {

bool IdleExit::Due(Clock::time_point now) {
  bool busy = server_.ClientCount() > 0;
  if (!busy) {
    auto lock = board_.Lock();
    busy = board_.Dog().Enabled();
  }
  if (busy) lastBusy_ = now;
  return !busy && now - lastBusy_ >= limit_;
}

}  // namespace rq::driver
