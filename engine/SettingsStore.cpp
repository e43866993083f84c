#include "engine/SettingsStore.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "engine/MSupport.h"
#include "engine/StateFolder.h"
#include "platform/BuildInfo.h"
#include "platform/Process.h"
#include "platform/ProfileFile.h"

namespace rq::engine {

bool RunInstalled(const std::string& programDirectory) {
  if (programDirectory.empty()) return false;
  struct stat st {};
  const std::string shipped = programDirectory + "/" + platform::kDataDirFromProgram + "/" + kSettingsFile;
  return ::stat(shipped.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

SettingsChoice ChooseSettingsFile(const std::string& named, bool stateFolder,
                                  const std::string& programDirectory, const char* xdgStateHome,
                                  const char* home) {
  if (!named.empty()) return {named, std::nullopt};
  if (!stateFolder && !RunInstalled(programDirectory)) return {kSettingsFile, std::nullopt};
  const std::string folder = StateFolderPath(xdgStateHome, home);
  if (auto problem = PrepareStateFolder(folder, kSettingsFile)) return {{}, std::move(problem)};
  return {folder + "/" + kSettingsFile, std::nullopt};
}

SettingsChoice ChooseSettingsFile(const std::string& named, bool stateFolder) {
  return ChooseSettingsFile(named, stateFolder, platform::ProgramDirectory(), std::getenv("XDG_STATE_HOME"),
                            std::getenv("HOME"));
}

std::optional<std::string> RefusedSettingsFile(const std::string& settingsFile) {
  const auto why = platform::CheckProfileFile(settingsFile);
  if (!why) return std::nullopt;
  std::error_code error;
  std::filesystem::path where = std::filesystem::absolute(settingsFile, error);
  if (error) where = settingsFile;
  return "The settings file " + where.string() + " " + *why +
         ", so it is not read: nothing it holds is used (no recovery, no safe clock, no board section), "
         "and clock changes are refused. Remove it, or make it a file of your own that only you may write.";
}

std::string SettingsLockFile(const std::string& settingsFile) {
  const std::filesystem::path path(settingsFile);
  return (path.parent_path() / ("." + path.filename().string() + ".lock")).string();
}

InstanceLocks TakeInstanceLocks(const std::string& settingsFile, bool& alreadyExists) {
  InstanceLocks locks;
  locks.runtime = platform::InstanceLock::Create(kInstanceMutexName, alreadyExists);
  if (alreadyExists) return {};
  locks.settings = platform::InstanceLock::CreateAt(SettingsLockFile(settingsFile), alreadyExists);
  if (alreadyExists) return {};
  return locks;
}

}  // namespace rq::engine
