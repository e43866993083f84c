#include "sim/monitor/HwmonTree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "sim/Board.h"
#include "sim/monitor/MonitorChips.h"

namespace rq::sim {
namespace {

namespace fs = std::filesystem;

bool Failed(const fs::path& path, const std::string& why, std::string& error) {
  error = path.string() + ": " + why;
  return false;
}

// The file beside is made new, never opened through whatever stands at its name: in a
// folder others can write, a link planted there would take the text anywhere.
bool ReplaceFile(const fs::path& path, const std::string& text, std::string& error) {
  const fs::path beside = path.parent_path() / ("." + path.filename().string() + ".new");
  std::error_code failure;
  fs::remove(beside, failure);
  const int fd = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return Failed(beside, std::strerror(errno), error);
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeError = errno;
  ::close(fd);
  if (!written) return Failed(beside, std::strerror(writeError), error);
  fs::rename(beside, path, failure);
  return failure ? Failed(path, failure.message(), error) : true;
}

bool MakeFolder(const fs::path& path, std::string& error) {
  std::error_code failure;
  fs::create_directories(path, failure);
  return failure ? Failed(path, failure.message(), error) : true;
}

}  // namespace

bool WriteHwmonTree(Board& board, const fs::path& root, std::string& error) {
  std::vector<std::pair<std::uint16_t, KernelHwmonView>> views;
  {
    auto lock = board.Lock();
    for (const Chip* chip : board.Chips()) {
      const auto* monitor = dynamic_cast<const SuperIoMonitor*>(chip);
      if (monitor == nullptr) continue;
      KernelHwmonView view = monitor->KernelView();
      if (!view.name.empty()) views.emplace_back(monitor->Base(), std::move(view));
    }
  }
  const fs::path classFolder = root / "class" / "hwmon";
  if (!MakeFolder(classFolder, error)) return false;
  for (std::size_t n = 0; n < views.size(); ++n) {
    const auto& [base, view] = views[n];
    const std::string hwmon = "hwmon" + std::to_string(n);
    // The platform device is named after the driver and the chip's decimal base, as
    // the kernel names it ("w83627hf.656", "it87.656" for every chip of that driver).
    const fs::path device =
        fs::path("devices") / "platform" / (view.driver + "." + std::to_string(base)) / "hwmon" / hwmon;
    if (!MakeFolder(root / device, error)) return false;
    const fs::path link = classFolder / hwmon;
    std::error_code failure;
    if (!fs::is_symlink(link, failure)) {
      fs::create_directory_symlink(fs::path("..") / ".." / device, link, failure);
      if (failure) return Failed(link, failure.message(), error);
    }
    if (!ReplaceFile(root / device / "name", view.name + "\n", error)) return false;
    for (const auto& [attribute, value] : view.attributes) {
      if (!ReplaceFile(root / device / attribute, std::to_string(value) + "\n", error)) return false;
    }
  }
  return true;
}

}  // namespace rq::sim
