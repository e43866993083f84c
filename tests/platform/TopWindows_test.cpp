#include "platform/TopWindows.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/XvfbServer.h"

namespace rq::platform {
namespace {

// A client of the test's own: frames and windows made as a window manager and a
// program would, and a reader of the close requests they receive.
class Client {
 public:
  Client() : c_(xcb_connect(nullptr, nullptr)) { screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data; }
  ~Client() { xcb_disconnect(c_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  xcb_window_t Window(xcb_window_t parent) {
    const xcb_window_t id = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, parent, 0, 0, 50, 50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, 0, nullptr);
    xcb_map_window(c_, id);
    return id;
  }
  xcb_window_t Root() const { return screen_->root; }

  void Title(xcb_window_t window, const char* property, const char* type, const std::string& title) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, Atom(property), Atom(type), 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    Sync();
  }

  void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

  xcb_atom_t Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
  }

  // Windows that got a close request within a second.
  std::vector<xcb_window_t> CloseRequests() {
    std::vector<xcb_window_t> windows;
    const xcb_atom_t deleteWindow = Atom("WM_DELETE_WINDOW");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < deadline) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
          const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
          if (message->type == Atom("WM_PROTOCOLS") && message->data.data32[0] == deleteWindow) {
            windows.push_back(message->window);
          }
        }
        std::free(event);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return windows;
  }

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_;
};

TEST(TopWindowsTest, FindsTitledWindowsBesideAndInsideFramesAndAsksThemToClose) {
  if (!test::XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer server;
  ASSERT_TRUE(server.Running());
  Client client;
  const xcb_window_t plain = client.Window(client.Root());
  client.Title(plain, "_NET_WM_NAME", "UTF8_STRING", "DShow Testing");
  const xcb_window_t frame = client.Window(client.Root());
  const xcb_window_t framed = client.Window(frame);
  client.Title(framed, "WM_NAME", "STRING", "DShow Testing");
  const xcb_window_t deeper = client.Window(client.Window(frame));
  client.Title(deeper, "WM_NAME", "STRING", "DShow Testing");
  const xcb_window_t other = client.Window(client.Root());
  client.Title(other, "WM_NAME", "STRING", "DShow Testing 2");
  // _NET_WM_NAME, when there, is the title; a stale WM_NAME does not count.
  const xcb_window_t renamed = client.Window(client.Root());
  client.Title(renamed, "WM_NAME", "STRING", "DShow Testing");
  client.Title(renamed, "_NET_WM_NAME", "UTF8_STRING", "Something else");

  std::vector<WindowId> found = FindTopWindows("DShow Testing");
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<WindowId>{plain, framed}));
  EXPECT_TRUE(FindTopWindows("Testing Program").empty());

  EXPECT_EQ(CloseTopWindows("DShow Testing"), 2u);
  std::vector<xcb_window_t> asked = client.CloseRequests();
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<xcb_window_t>{plain, framed}));
}

TEST(TopWindowsTest, NoDisplayMeansNoWindows) {
  test::ScopedEnv display("DISPLAY", ":9999");
  EXPECT_TRUE(FindTopWindows("Testing Program").empty());
  EXPECT_EQ(CloseTopWindows("Testing Program"), 0u);
}

}  // namespace
}  // namespace rq::platform
