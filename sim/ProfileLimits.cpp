#include "sim/ProfileLimits.h"

#include <vector>

#include "sim/ChipConfig.h"

namespace rq::sim {
namespace {

// Walks the text once, following where TOML puts keys and values just far enough
// to know how deep each value sits. Every opening bracket counts even when it is
// never closed: the parser recurses on the way in.
class LimitScanner {
 public:
  LimitScanner(std::string_view text, const std::string& origin) : text_(text), origin_(origin) {}

  void Run() {
    if (text_.size() > ProfileLimits::kMaxBytes) {
      throw ProfileError(origin_ + ": the board profile is larger than " +
                         std::to_string(ProfileLimits::kMaxBytes / 1024) + " KiB");
    }
    while (pos_ < text_.size()) Step();
  }

 private:
  enum class Context { Key, Header, AfterHeader, Value };
  enum class Kind { Array, InlineTable };
  struct Frame {
    Kind kind;
    int valueDepth;  // of the array or table itself
    int keyBase;     // of the keys around it
  };

  char Peek(std::size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }

  void Advance() {
    if (text_[pos_++] == '\n') {
      ++line_;
      column_ = 0;
    } else if (++column_ > ProfileLimits::kMaxLineLength) {
      throw ProfileError(origin_ + ": line " + std::to_string(line_) + " is longer than " +
                         std::to_string(ProfileLimits::kMaxLineLength) + " characters");
    }
  }

  void CheckDepth(int depth) const {
    if (depth > ProfileLimits::kMaxDepth) {
      throw ProfileError(origin_ + ": line " + std::to_string(line_) +
                         ": tables and arrays nested deeper than " +
                         std::to_string(ProfileLimits::kMaxDepth) + " levels");
    }
  }

  void Step() {
    const char c = Peek();
    if (c == '#') {
      while (pos_ < text_.size() && Peek() != '\n') Advance();
      return;
    }
    if (c == '"' || c == '\'') {
      SkipString(c);
      return;
    }
    Advance();
    if (c == '\n') {
      if (frames_.empty()) StartLine();
      return;
    }
    switch (context_) {
      case Context::Key:
        OnKey(c);
        break;
      case Context::Header:
        OnHeader(c);
        break;
      case Context::Value:
        OnValue(c);
        break;
      case Context::AfterHeader:
        break;
    }
  }

  void StartLine() {
    context_ = Context::Key;
    keyBase_ = headerDepth_;
    keyDots_ = 0;
  }

  void OnKey(char c) {
    if (c == '.') {
      CheckDepth(keyBase_ + ++keyDots_);
    } else if (c == '=') {
      valueDepth_ = keyBase_ + keyDots_;
      CheckDepth(valueDepth_);
      context_ = Context::Value;
    } else if (c == '[' && frames_.empty()) {
      headerArray_ = Peek() == '[';
      if (headerArray_) Advance();
      keyDots_ = 0;
      context_ = Context::Header;
    } else if (c == '}') {
      CloseInlineTable();
    }
  }

  // [a.b] holds its keys at depth 2; [[a.b]] at 3, the array of tables adding one.
  void OnHeader(char c) {
    const int depth = keyDots_ + 1 + (headerArray_ ? 1 : 0);
    if (c == '.') {
      ++keyDots_;
      CheckDepth(depth + 1);
    } else if (c == ']') {
      CheckDepth(depth);
      headerDepth_ = depth;
      context_ = Context::AfterHeader;
    }
  }

  void OnValue(char c) {
    if (c == '[') {
      frames_.push_back({Kind::Array, valueDepth_, keyBase_});
      CheckDepth(++valueDepth_);
    } else if (c == '{') {
      frames_.push_back({Kind::InlineTable, valueDepth_, keyBase_});
      keyBase_ = valueDepth_ + 1;
      keyDots_ = 0;
      CheckDepth(keyBase_);
      context_ = Context::Key;
    } else if (c == ']' && !frames_.empty() && frames_.back().kind == Kind::Array) {
      valueDepth_ = frames_.back().valueDepth;
      frames_.pop_back();
    } else if (c == '}') {
      CloseInlineTable();
    } else if (c == ',' && !frames_.empty() && frames_.back().kind == Kind::InlineTable) {
      keyDots_ = 0;
      context_ = Context::Key;
    }
  }

  void CloseInlineTable() {
    if (frames_.empty() || frames_.back().kind != Kind::InlineTable) return;
    valueDepth_ = frames_.back().valueDepth;
    keyBase_ = frames_.back().keyBase;
    frames_.pop_back();
    context_ = Context::Value;
  }

  // Basic strings ("…", """…""") know backslash escapes; literal ones ('…',
  // '''…''') do not. A single-line string ends at the line's end at the latest.
  void SkipString(char quote) {
    const bool multiLine = Peek(1) == quote && Peek(2) == quote;
    const int quotes = multiLine ? 3 : 1;
    for (int i = 0; i < quotes; ++i) Advance();
    while (pos_ < text_.size()) {
      const char c = Peek();
      if (c == '\n' && !multiLine) return;
      if (c == '\\' && quote == '"') {
        if (!multiLine && Peek(1) == '\n') return;
        Advance();
        if (pos_ < text_.size()) Advance();
        continue;
      }
      if (c == quote && (!multiLine || (Peek(1) == quote && Peek(2) == quote))) {
        for (int i = 0; i < quotes; ++i) Advance();
        // Up to two more quotes belong to a multi-line string's content.
        for (int extra = 0; multiLine && extra < 2 && Peek() == quote; ++extra) Advance();
        return;
      }
      Advance();
    }
  }

  std::string_view text_;
  const std::string& origin_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t column_ = 0;
  Context context_ = Context::Key;
  std::vector<Frame> frames_;
  int headerDepth_ = 0;
  bool headerArray_ = false;
  int keyBase_ = 0;
  int keyDots_ = 0;
  int valueDepth_ = 0;
};

}  // namespace

void CheckProfileLimits(std::string_view text, const std::string& origin) {
  LimitScanner(text, origin).Run();
}

}  // namespace rq::sim
