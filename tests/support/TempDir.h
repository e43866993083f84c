#pragma once
// A scratch folder for one test or benchmark run; the one helper every test and
// benchmark uses for temporary files.
//
//   rq::test::TempDir dir;             // $TMPDIR/rq-test-XXXXXX, mode 0700, made now
//   dir.Path()                         // its path
//   dir / "run/ZQ_I2cIo.sock"          // a path inside it (nothing is created)
//
// The folder and everything in it is removed when the object goes; a folder that
// cannot be made throws, so no test goes on to write into a shared place.
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace rq::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rq-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "cannot make a folder like " + pattern);
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace rq::test
