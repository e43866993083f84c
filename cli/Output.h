#pragma once
// Where `log` rows and `sensors` blocks go: the standard output or a file, FIFO,
// pipe or device the user names. Nothing here waits for ever: opening a FIFO with
// no reader yet, and writing to a reader that has stopped reading, are waited out
// in short ticks that look at the stop flag.
#include <atomic>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace rq::cli {

enum class WriteResult { Written, Stopped, Failed };

class Output {
 public:
  // In-process callers (tests) hand a stream; the program hands its descriptor.
  Output(std::ostream& stream, std::string name) : stream_(&stream), name_(std::move(name)) {}
  Output(int fd, std::string name, bool owned) : fd_(fd), owned_(owned), name_(std::move(name)) {}
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Writes all of `text`. Stopped: a stop was asked for while the output could take
  // nothing more (what was written stays written). Failed: the output refused it
  // (no space, no reader any more); Error() says why.
  WriteResult Write(std::string_view text, const std::atomic<bool>* stop);
  const std::string& Name() const { return name_; }
  const std::string& Error() const { return error_; }

 private:
  std::ostream* stream_ = nullptr;
  int fd_ = -1;
  bool owned_ = false;
  std::string name_;
  std::string error_;
};

// A log output opened for appending. `existingFirstLine` is set only for a regular
// file that already holds something: its first line (longer ones are cut at the
// bound), for the caller to tell whether it holds a log of the same columns;
// `endsWithLineBreak` says whether its last byte ends a line.
struct LogFile {
  std::unique_ptr<Output> output;
  std::optional<std::string> existingFirstLine;
  bool endsWithLineBreak = true;
};

// The longest first line the header check reads; a longer one is no header of ours.
inline constexpr std::size_t kLongestHeaderLine = 64 * 1024;

// Opens `path` for appending without blocking. A FIFO nobody reads yet is waited
// for, saying so on `err`, until a reader opens it, `readerWaitSeconds` pass or a
// stop is asked for. Null, with the reason on `err`, when it cannot be opened.
std::optional<LogFile> OpenLogFile(const std::string& path, const std::atomic<bool>* stop,
                                   double readerWaitSeconds, std::ostream& err);

}  // namespace rq::cli
