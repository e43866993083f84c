#pragma once
#include <functional>

namespace rq::platform {

// Runs work on the window thread and waits for it (the synchronised call).
// The windows install the real dispatcher; until then the work runs on the
// calling thread. Worker threads never touch a window except through this.
using WindowThreadDispatcher = std::function<void(const std::function<void()>& work)>;

void Synchronize(const std::function<void()>& work);
void SetWindowThreadDispatcher(WindowThreadDispatcher dispatcher);

}  // namespace rq::platform
