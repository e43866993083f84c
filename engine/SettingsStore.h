#pragma once
#include <memory>
#include <optional>
#include <string>

#include "platform/InstanceLock.h"

namespace rq::engine {

// One settings store per user. The program and rqctl choose their settings file
// here, the same way: a file named on the command line; else, installed,
// torvane.ini in the per-user state folder, made and seeded on first use; else
// (run from a build tree, or a copy of a program on its own) torvane.ini in the
// current folder. Installed means the installed layout around the program: the
// shipped board sections in its shared data folder (bin/../share/rhomboquest).

struct SettingsChoice {
  std::string file;                    // the settings file; empty when there is none to use
  std::optional<std::string> problem;  // why the state folder cannot be used
};

// `named`: a file given on the command line (or empty). `stateFolder`: the state
// folder even when not installed (the program's --state-folder). `programDirectory`
// is the running program's folder; the environment gives the state folder.
SettingsChoice ChooseSettingsFile(const std::string& named, bool stateFolder,
                                  const std::string& programDirectory, const char* xdgStateHome,
                                  const char* home);
// The same for the running program and its environment.
SettingsChoice ChooseSettingsFile(const std::string& named, bool stateFolder);

// Whether the program in `programDirectory` is installed (see above).
bool RunInstalled(const std::string& programDirectory);

// Why the settings file is not used (a link, someone else's, open to others'
// writes), as a sentence naming it; nothing when it is used or missing.
std::optional<std::string> RefusedSettingsFile(const std::string& settingsFile);

// What keeps a second front end of the same user from changing the board: the
// lock named Torvane in the runtime folder, and one beside the settings file
// (".<name>.lock"), which holds however many runtime folders the user has.
struct InstanceLocks {
  std::unique_ptr<platform::InstanceLock> runtime;
  std::unique_ptr<platform::InstanceLock> settings;
  bool Held() const { return runtime != nullptr && settings != nullptr; }
};

// Takes both; `alreadyExists` when another front end holds either (then neither is
// kept). A lock that cannot be made at all is missing from the result.
InstanceLocks TakeInstanceLocks(const std::string& settingsFile, bool& alreadyExists);

// The lock file beside `settingsFile`.
std::string SettingsLockFile(const std::string& settingsFile);

}  // namespace rq::engine
