#include "app/Display.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace rq::app {
namespace {

constexpr const char* kPlatformVariable = "QT_QPA_PLATFORM";
constexpr const char* kX11Platform = "xcb";

const char* ConnectionErrorText(int error) {
  switch (error) {
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
      return "an extension it needs is missing";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
      return "out of memory";
    case XCB_CONN_CLOSED_PARSE_ERR:
      return "the display name is not valid";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return "the display has no such screen";
    default:
      return "it does not answer or refuses the connection";
  }
}

}  // namespace

std::optional<std::string> PrepareDisplay() {
  const char* asked = std::getenv(kPlatformVariable);
  if (asked && *asked) {
    // Only the X11 platform is checked here; another one asked for explicitly (tests
    // run offscreen) reports its own problems.
    if (std::string(asked) != kX11Platform) return std::nullopt;
  } else {
    setenv(kPlatformVariable, kX11Platform, 1);
  }
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return std::string("rhomboquest: no X display (DISPLAY is not set") +
           (wayland && *wayland ? "; on Wayland the program needs XWayland" : "") + ")";
  }
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(xcb_connect(display, nullptr),
                                                                          &xcb_disconnect);
  if (const int error = xcb_connection_has_error(connection.get()); error != 0) {
    return std::string("rhomboquest: cannot open the X display \"") + display +
           "\": " + ConnectionErrorText(error);
  }
  return std::nullopt;
}

}  // namespace rq::app
