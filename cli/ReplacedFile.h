#pragma once
// A file rewritten whole at every update, for readers that may open it at any
// moment (a textfile collector): each update goes to a fresh file beside it,
// reaches the disk, and is renamed over it, so a reader sees the old text or the
// new one, never a part.
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace rq::cli {

class ReplacedFile {
 public:
  // Holds the folder of `path` open. Null, with the reason on `err`, when that folder
  // is not a folder, or `path` names anything but a regular file (a link, a folder,
  // a device): replacing it would not be what its owner meant.
  static std::unique_ptr<ReplacedFile> Open(const std::string& path, std::ostream& err);
  ~ReplacedFile();
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // False, with Error() saying why, when the update could not be made whole; the
  // file then keeps its last text and no temporary file is left behind.
  bool Replace(std::string_view text);
  const std::string& Error() const { return error_; }

 private:
  ReplacedFile(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  int CreateTemporary(std::string& tempName);
  bool Fail(const std::string& what, int error);

  int folder_;
  std::string name_;
  std::string error_;
};

}  // namespace rq::cli
