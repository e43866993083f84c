#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rq::platform {

using WindowId = std::uint32_t;

// Top-level windows of the X display named by $DISPLAY, found by their exact title
// (_NET_WM_NAME, else WM_NAME). Window managers reparent client windows into
// frames, so the children of the root and their children are searched. Empty
// when there is no display.
std::vector<WindowId> FindTopWindows(const std::string& title);

// Sends every window titled `title` a close request (WM_DELETE_WINDOW), as a user
// closing it would. Returns how many were asked.
std::size_t CloseTopWindows(const std::string& title);

}  // namespace rq::platform
