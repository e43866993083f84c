#pragma once
#include <optional>
#include <string>

namespace rq::engine {

// The per-user folder an installed program keeps its settings in, since its own
// folder is read-only then: $XDG_STATE_HOME/rhomboquest (an absolute
// $XDG_STATE_HOME only), else $HOME/.local/state/rhomboquest; empty without either.
std::string StateFolderPath(const char* xdgStateHome, const char* home);

// The settings file a new state folder starts with: every board section the
// program ships, so that users find the rows of their board to edit.
std::string SeedSettingsText();

// Readies `folder` for the settings: creates it (0700, missing parents too) and
// refuses a symbolic link, a folder of another user, or one inside a folder others
// may write; a folder of ours open to others is closed to 0700. Then puts the seed
// settings into `settingsName` there when nothing of that name exists, never
// replacing what the user has (a file planted there meanwhile is left for the
// settings checks to refuse). Returns why it failed; on failure nothing is left
// half-written.
std::optional<std::string> PrepareStateFolder(const std::string& folder, const std::string& settingsName);

}  // namespace rq::engine
