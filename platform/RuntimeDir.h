#pragma once
#include <string>
#include <vector>

namespace rq::platform {

// The per-user folder that holds the single-instance lock, the exit event and the
// driver's socket. The program, the daemon and rhomboquest-exit must agree on it,
// so it is the first usable folder of a fixed list: $RQ_RUNTIME_DIR alone when set
// (tests isolate themselves with it), else $XDG_RUNTIME_DIR/rhomboquest,
// /tmp/rhomboquest-<uid>, and ${XDG_CACHE_HOME:-~/.cache}/rhomboquest/run.
// Usable: a directory of the effective user, not a symbolic link, mode 0700
// (created so when missing, closed to others when found open). Folders passed
// over are named once on standard error; when none is usable, the reasons go once
// to an error message box and the result is empty.
std::string RuntimeDir();

// The folders RuntimeDir tries, in order.
std::vector<std::string> RuntimeDirCandidates();

struct RuntimeDirChoice {
  std::string path;                  // empty when no candidate is usable
  std::vector<std::string> refused;  // why each folder before it was passed over
};

// The first usable folder of `candidates`. `strict` (the default folders) refuses
// a symbolic link and closes a folder that others may enter; otherwise a link of
// ours to a folder of ours is followed and the mode is left as its owner set it.
RuntimeDirChoice ChooseRuntimeDir(const std::vector<std::string>& candidates, bool strict);

// The stand-in for the Windows system folder: $RQ_SYSTEM_DIR when set, else
// $XDG_DATA_HOME/rhomboquest/system (~/.local/share/...). Holds "drivers/" and the
// service registry.
std::string SystemDirectory();

}  // namespace rq::platform
