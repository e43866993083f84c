#pragma once
#include <string>

namespace rq::platform {

// The per-user folder that holds the single-instance lock, the exit event and the
// driver's socket: $RQ_RUNTIME_DIR when set (tests isolate themselves with it),
// else $XDG_RUNTIME_DIR/rhomboquest, else /tmp/rhomboquest-<uid>. Created with mode
// 0700 when missing; a folder owned by someone else is refused (empty result).
std::string RuntimeDir();

// The stand-in for the Windows system folder: $RQ_SYSTEM_DIR when set, else
// $XDG_DATA_HOME/rhomboquest/system (~/.local/share/...). Holds "drivers/" and the
// service registry.
std::string SystemDirectory();

}  // namespace rq::platform
