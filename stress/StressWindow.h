#pragma once
#include <QWidget>
#include <functional>

namespace rq::stress {

// What the three programs share: the application object, a window with the
// given title at the top-left corner of the screen, and the event loop. The
// program ends with exit code 0 when its window is closed (a close request from
// the verification or the user). `makeContent` builds the drawing widget, which
// fills the window.
int RunStressProgram(int argc, char** argv, const QString& title,
                     const std::function<QWidget*()>& makeContent);

// The default size of a stress window's drawing area.
inline constexpr int kStressWidth = 640;
inline constexpr int kStressHeight = 480;

}  // namespace rq::stress
