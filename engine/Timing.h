#pragma once
#include <cstdint>

#include "platform/Event.h"

namespace rq::engine {

// The waits of frequency control and the watchdog thread. The program uses real
// time; tests drive the one-second ticks and the settle sleep themselves.
class Timing {
 public:
  virtual ~Timing() = default;
  // Waits up to `ms` for the event; true when it was signalled (and so consumed).
  virtual bool WaitForEvent(platform::Event& event, std::uint32_t ms) = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
};

Timing& RealTiming();

}  // namespace rq::engine
