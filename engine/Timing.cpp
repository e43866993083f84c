#include "engine/Timing.h"

#include "platform/Clock.h"

namespace rq::engine {
namespace {

class SystemTiming final : public Timing {
 public:
  bool WaitForEvent(platform::Event& event, std::uint32_t ms) override { return event.Wait(ms); }
  void Sleep(std::uint32_t ms) override { platform::Sleep(ms); }
};

}  // namespace

Timing& RealTiming() {
  static SystemTiming timing;
  return timing;
}

}  // namespace rq::engine
