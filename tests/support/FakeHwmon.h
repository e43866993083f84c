#pragma once
// Fake sysfs trees of the kernel's sensors. A line is "folder: file=text; file=text" or
// "link -> target", paths under the root; '#' starts a comment. The trees of real
// machines, laid out as their drivers publish them, are tests/support/hwmon/*.tree.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace rq::test {

inline void WriteTree(const std::filesystem::path& root, const std::string& tree) {
  std::istringstream lines(tree);
  for (std::string line; std::getline(lines, line);) {
    const auto arrow = line.find(" -> ");
    const auto colon = line.find(": ");
    if (line.empty() || line[0] == '#') continue;
    std::filesystem::create_directories((root / line.substr(0, std::min(arrow, colon))).parent_path());
    if (arrow != std::string::npos) {
      std::filesystem::create_directory_symlink(line.substr(arrow + 4), root / line.substr(0, arrow));
      continue;
    }
    std::filesystem::create_directories(root / line.substr(0, colon));
    for (std::size_t at = colon + 2, end = 0; at < line.size(); at = end + 2) {
      end = std::min(line.find("; ", at), line.size());
      const auto equals = line.find('=', at);
      std::ofstream(root / line.substr(0, colon) / line.substr(at, equals - at))
          << line.substr(equals + 1, end - equals - 1) << '\n';
    }
  }
}

// A file of tests/support/hwmon: a machine's tree ("desktop.tree"), what rqctl shows of it.
inline std::string HwmonFile(const std::string& name) {
  std::ifstream file(std::string(RQ_HWMON_TREES) + "/" + name);
  std::string text;
  for (std::string line; std::getline(file, line);) text += line + '\n';
  return text;
}

}  // namespace rq::test
