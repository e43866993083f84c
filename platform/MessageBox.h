#pragma once
#include <functional>
#include <string>

namespace rq::platform {

// Flags and results with the values of the Windows message box they stand for.
enum MessageBoxFlags : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbIconError = 0x10,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbTopmost = 0x40000,
};
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

using MessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Shows a message box through the installed handler. Until the windows install
// theirs, the text goes to standard error as "caption: text" and the result is kIdOk.
// Called from a worker thread while the program closes, it returns at once with the
// box's cancel answer (kIdCancel, or kIdOk for a box with OK alone), and a box that
// is open when the close begins is dismissed with that answer.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
// Installs a handler; an empty handler restores the standard-error one.
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace rq::platform
