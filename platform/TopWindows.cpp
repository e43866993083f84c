#include "platform/TopWindows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace rq::platform {
namespace {

// Longest title read, in 32-bit units; titles of interest are far shorter.
constexpr std::uint32_t kTitleMaxLongs = 1024;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

class Connection {
 public:
  Connection() : connection_(xcb_connect(nullptr, &screen_)) {}
  ~Connection() { xcb_disconnect(connection_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Ok() const { return xcb_connection_has_error(connection_) == 0; }
  xcb_connection_t* Get() const { return connection_; }

  xcb_atom_t Atom(const char* name) const {
    const auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  std::vector<xcb_window_t> Roots() const {
    std::vector<xcb_window_t> roots;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem > 0; xcb_screen_next(&it)) {
      roots.push_back(it.data->root);
    }
    return roots;
  }

  std::vector<xcb_window_t> Children(xcb_window_t window) const {
    Reply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
    if (!reply) return {};
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    return {children, children + xcb_query_tree_children_length(reply.get())};
  }

  // The property as text; false when the window lacks it (or has gone).
  bool TextProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::string& text) const {
    if (property == XCB_ATOM_NONE) return false;
    const auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, kTitleMaxLongs);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return false;
    text.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return true;
  }

 private:
  int screen_ = 0;
  xcb_connection_t* connection_;
};

std::vector<xcb_window_t> Find(const Connection& x, const std::string& title) {
  const xcb_atom_t netWmName = x.Atom("_NET_WM_NAME");
  const xcb_atom_t utf8String = x.Atom("UTF8_STRING");
  auto matches = [&](xcb_window_t window) {
    std::string text;
    if (x.TextProperty(window, netWmName, utf8String, text)) return text == title;
    return x.TextProperty(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, text) && text == title;
  };
  std::vector<xcb_window_t> found;
  for (const xcb_window_t root : x.Roots()) {
    for (const xcb_window_t top : x.Children(root)) {
      if (matches(top)) found.push_back(top);
      for (const xcb_window_t child : x.Children(top)) {
        if (matches(child)) found.push_back(child);
      }
    }
  }
  return found;
}

}  // namespace

std::vector<WindowId> FindTopWindows(const std::string& title) {
  Connection x;
  if (!x.Ok()) return {};
  const auto windows = Find(x, title);
  return {windows.begin(), windows.end()};
}

std::size_t CloseTopWindows(const std::string& title) {
  Connection x;
  if (!x.Ok()) return 0;
  const auto windows = Find(x, title);
  if (windows.empty()) return 0;
  const xcb_atom_t protocols = x.Atom("WM_PROTOCOLS");
  const xcb_atom_t deleteWindow = x.Atom("WM_DELETE_WINDOW");
  for (const xcb_window_t window : windows) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x.Get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  }
  // A round trip makes sure the server has taken the requests before the
  // connection goes; a bare flush and disconnect can lose them.
  Reply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(x.Get(), xcb_get_input_focus(x.Get()), nullptr));
  return windows.size();
}

}  // namespace rq::platform
