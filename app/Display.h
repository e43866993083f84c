#pragma once
#include <optional>
#include <string>

namespace rq::app {

// Exit code of the program when it has no display to show its windows on.
inline constexpr int kExitNoDisplay = 2;

// Chooses the window system before the application starts. The windows place
// themselves, slide their panels and close the stress programs by title, which
// needs X11: unless a platform was asked for (QT_QPA_PLATFORM), the program uses
// X11 directly or, on a Wayland session, through XWayland. The choice is made in
// the environment, so the stress programs started later make the same one.
// Returns the one-line reason when the X display cannot be reached.
std::optional<std::string> PrepareDisplay();

}  // namespace rq::app
