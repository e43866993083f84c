#pragma once
// Shared helpers for the platform tests: environment and working directory changes
// that undo themselves, whole-file reads and writes; scratch folders and the folder
// of the built programs come from the helpers every test shares.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "support/DaemonProcess.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace rq::platform::test {

using rq::test::ScopedEnv;
using rq::test::TempDir;

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
  }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

using rq::test::BinDir;

}  // namespace rq::platform::test
