#include "platform/ProfileFile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/TestSupport.h"

namespace rq::platform {
namespace {

using test::ReadAll;
using test::ScopedEnv;
using test::TempDir;
using test::WriteAll;

class ProfileFileTest : public ::testing::Test {
 protected:
  std::string Get(const std::string& section, const std::string& key, const std::string& def = "<none>") {
    return GetPrivateProfileString(section, key, def, file_);
  }
  int GetInt(const std::string& section, const std::string& key, int def = -99) {
    return GetPrivateProfileInt(section, key, def, file_);
  }
  bool Put(const std::string& section, const std::string& key, const std::optional<std::string>& value) {
    return WritePrivateProfileString(section, key, value, file_);
  }

  TempDir dir_;
  std::string file_ = dir_ / "torvane.ini";
};

TEST_F(ProfileFileTest, MissingFileSectionOrKeyYieldsDefaults) {
  EXPECT_EQ(Get("Overclock", "SafeFreq", ""), "");
  EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 0);
  EXPECT_EQ(GetInt("Overclock", "V33", 1), 1);
  WriteAll(file_, "[Overclock]\nInWatch=1\n");
  EXPECT_EQ(Get("Other", "InWatch"), "<none>");
  EXPECT_EQ(Get("Overclock", "SafeFreq"), "<none>");
  EXPECT_EQ(Get("Overclock", "InWatch"), "1");
}

TEST_F(ProfileFileTest, NamesCompareCaseInsensitivelyAndValuesAreTrimmedAndUnquoted) {
  WriteAll(file_,
           "[OverClock]\n"
           "  inwatch = 1  \n"
           "Quoted=\"  spaced  \"\n"
           "Single='x'\n"
           "Lonely=\"\n"
           "Empty=\n");
  EXPECT_EQ(Get("overclock", "INWATCH"), "1");
  EXPECT_EQ(Get("OVERCLOCK", "quoted"), "  spaced  ");
  EXPECT_EQ(Get("Overclock", "Single"), "x");
  EXPECT_EQ(Get("Overclock", "Lonely"), "\"");
  EXPECT_EQ(Get("Overclock", "Empty"), "");

  ASSERT_TRUE(Put("OVERCLOCK", "INWATCH", "0"));
  EXPECT_EQ(ReadAll(file_),
            "[OverClock]\n"
            "  inwatch = 0\n"
            "Quoted=\"  spaced  \"\n"
            "Single='x'\n"
            "Lonely=\"\n"
            "Empty=\n");
}

TEST_F(ProfileFileTest, IntegersReadFromLeadingDigitsAndSaturateAtTheIntLimits) {
  WriteAll(file_,
           "[Overclock]\nInWatch=5\nNeg=-12abc\nPlus=+7\nText=abc\nEmpty=\nHuge=99999999999\n"
           "HugeNeg=-99999999999\nSpaced= 42 \nSignOnly=-\n");
  // A flag counts as set for any non-zero value, five included.
  EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 5);
  EXPECT_EQ(GetInt("Overclock", "Neg"), -12);
  EXPECT_EQ(GetInt("Overclock", "Plus"), 7);
  EXPECT_EQ(GetInt("Overclock", "Text"), 0);
  EXPECT_EQ(GetInt("Overclock", "SignOnly"), 0);
  EXPECT_EQ(GetInt("Overclock", "Empty", 3), 3);
  EXPECT_EQ(GetInt("Overclock", "Huge"), INT_MAX);
  EXPECT_EQ(GetInt("Overclock", "HugeNeg"), INT_MIN);
  EXPECT_EQ(GetInt("Overclock", "Spaced"), 42);
  EXPECT_EQ(GetInt("Overclock", "Missing", 1), 1);
}

TEST_F(ProfileFileTest, ValuesAreCutTo255Characters) {
  const std::string longValue(300, 'v');
  ASSERT_TRUE(Put("S", "Long", longValue));
  EXPECT_NE(ReadAll(file_).find(longValue), std::string::npos) << "the file keeps the whole value";
  EXPECT_EQ(Get("S", "Long"), std::string(255, 'v'));
  EXPECT_EQ(Get("S", "Missing", longValue), std::string(255, 'v'));
}

TEST_F(ProfileFileTest, EmptySectionNameFindsOnlyAnEmptySection) {
  WriteAll(file_, "Global=top\n[Board]\nFan1=1\n");
  EXPECT_EQ(Get("", "Global"), "<none>");
  EXPECT_EQ(GetInt("", "Fan1", 0), 0);
  WriteAll(file_, "Global=top\n[]\nFan1=1\n[ ]\nFan2=1\n");
  EXPECT_EQ(GetInt("", "Fan1", 0), 1);
  EXPECT_EQ(GetInt("", "Fan2", 0), 1);
  EXPECT_EQ(Get("", "Global"), "<none>");
}

TEST_F(ProfileFileTest, WritingKeepsEveryOtherLineByteForByte) {
  const std::string head =
      "; settings\n"
      "\n"
      "stray line without equals\n"
      "[Overclock]\n"
      "InWatch=1\n"
      "  ; indented comment\n"
      "\n"
      "[P4X-Custom]\n"
      "TempSensor1Label = CPU  Temp\n"
      "=no name\n"
      "[broken section\n";
  WriteAll(file_, head);
  ASSERT_TRUE(Put("Overclock", "SafeFreq", "133.5"));
  ASSERT_TRUE(Put("Overclock", "InWatch", "0"));
  ASSERT_TRUE(Put("NewBoard", "Fan1", "1"));
  EXPECT_EQ(ReadAll(file_),
            "; settings\n"
            "\n"
            "stray line without equals\n"
            "[Overclock]\n"
            "InWatch=0\n"
            "SafeFreq=133.5\n"
            "  ; indented comment\n"
            "\n"
            "[P4X-Custom]\n"
            "TempSensor1Label = CPU  Temp\n"
            "=no name\n"
            "[broken section\n"
            "\n"
            "[NewBoard]\n"
            "Fan1=1\n");
  EXPECT_EQ(Get("P4X-Custom", "TempSensor1Label"), "CPU  Temp");
}

TEST_F(ProfileFileTest, MissingValueRemovesEveryCopyOfTheKey) {
  WriteAll(file_, "[Overclock]\nSafeFreq=150\nVoltShift=1\n[overclock]\nsafefreq=160\n[Other]\nSafeFreq=1\n");
  ASSERT_TRUE(Put("Overclock", "SafeFreq", std::nullopt));
  EXPECT_EQ(Get("Overclock", "SafeFreq"), "<none>");
  EXPECT_EQ(ReadAll(file_), "[Overclock]\nVoltShift=1\n[overclock]\n[Other]\nSafeFreq=1\n");
  // Removing what is not there changes nothing and creates nothing.
  EXPECT_TRUE(Put("Overclock", "SafeFreq", std::nullopt));
  const std::string other = dir_ / "absent.ini";
  EXPECT_TRUE(WritePrivateProfileString("Overclock", "SafeFreq", std::nullopt, other));
  EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(ProfileFileTest, CrlfFilesKeepCrlfAndAFileWithoutFinalNewlineIsExtended) {
  WriteAll(file_, "[Overclock]\r\nInWatch=1\r\n[Board]\r\nFan1=1");
  ASSERT_TRUE(Put("Board", "Fan2", "1"));
  ASSERT_TRUE(Put("Overclock", "VoltShift", "0"));
  ASSERT_TRUE(Put("New", "Key", "v"));
  EXPECT_EQ(
      ReadAll(file_),
      "[Overclock]\r\nInWatch=1\r\nVoltShift=0\r\n[Board]\r\nFan1=1\r\nFan2=1\r\n\r\n[New]\r\nKey=v\r\n");
  EXPECT_EQ(Get("Board", "Fan1"), "1");

  WriteAll(file_, "[Board]\nFan1=1");
  ASSERT_TRUE(Put("Board", "Fan2", "2"));
  EXPECT_EQ(ReadAll(file_), "[Board]\nFan1=1\nFan2=2");
}

TEST_F(ProfileFileTest, RelativeNameUsesTheCurrentDirectory) {
  TempDir first;
  TempDir second;
  {
    test::ScopedCwd cwd(first.Path());
    ASSERT_TRUE(WritePrivateProfileString("Overclock", "InWatch", "1", ".\\torvane.ini"));
    EXPECT_EQ(GetPrivateProfileInt("Overclock", "InWatch", 0, "torvane.ini"), 1);
  }
  {
    test::ScopedCwd cwd(second.Path());
    EXPECT_EQ(GetPrivateProfileInt("Overclock", "InWatch", 0, ".\\torvane.ini"), 0);
    ASSERT_TRUE(WritePrivateProfileString("Overclock", "InWatch", "0", ".\\torvane.ini"));
  }
  EXPECT_EQ(ReadAll(first / "torvane.ini"), "[Overclock]\nInWatch=1\n");
  EXPECT_EQ(ReadAll(second / "torvane.ini"), "[Overclock]\nInWatch=0\n");
}

TEST_F(ProfileFileTest, RefusesNamesAndValuesThatWouldReadBackDifferently) {
  WriteAll(file_, "[S]\nK=1\n");
  EXPECT_FALSE(Put("S", "K", "1\n[Evil]\nX=1"));
  EXPECT_FALSE(Put("S", "K", std::string("a\0b", 3)));
  EXPECT_FALSE(Put("S", "A=B", "1"));
  EXPECT_FALSE(Put("S", "", "1"));
  EXPECT_FALSE(Put("S", ";K", "1"));
  EXPECT_FALSE(Put("S]x", "K", "1"));
  EXPECT_FALSE(Put("S\nT", "K", "1"));
  EXPECT_EQ(ReadAll(file_), "[S]\nK=1\n");
}

TEST_F(ProfileFileTest, SeveralKeysAreWrittenAllOrNone) {
  WriteAll(file_, "[S]\nK=1\nGone=x\n");
  // One bad key refuses the whole change: no half-written section is left behind.
  EXPECT_FALSE(WritePrivateProfileStrings("S", {{"A", "1"}, {"B=C", "2"}}, file_));
  EXPECT_EQ(ReadAll(file_), "[S]\nK=1\nGone=x\n");
  EXPECT_TRUE(WritePrivateProfileStrings("S", {{"A", "1"}, {"K", "2"}, {"Gone", std::nullopt}}, file_));
  EXPECT_TRUE(WritePrivateProfileStrings("T", {{"X", "3"}, {"Y", "4"}}, file_));
  EXPECT_EQ(ReadAll(file_), "[S]\nK=2\nA=1\n\n[T]\nX=3\nY=4\n");
}

TEST_F(ProfileFileTest, FailedWriteLeavesTheOldFile) {
  WriteAll(file_, "[S]\nK=old\n");
  // Occupy the temporary name with a folder so that the write cannot proceed.
  std::filesystem::create_directory(dir_ / (".torvane.ini." + std::to_string(::getpid()) + ".tmp"));
  EXPECT_FALSE(Put("S", "K", "new"));
  EXPECT_EQ(ReadAll(file_), "[S]\nK=old\n");
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", dir_ / "no/such/folder/x.ini"));
}

// What someone else could have put in the file's place is neither read nor written.
TEST_F(ProfileFileTest, FilesOthersCouldHavePlantedAreNeitherReadNorWritten) {
  const std::string planted = "[Overclock]\nInWatch=1\n", target = dir_ / "target.ini";
  const struct {
    mode_t mode;
    uid_t owner;  // 0: ours (tests that hand files away run as root)
    const char* why;
  } cases[] = {{0600, 0, "is a symbolic link"},
               {0620, 0, "may be written by other users"},
               {0606, 0, "may be written by other users"},
               {0600, 65534, "belongs to another user (uid 65534)"}};
  for (const auto& c : cases) {
    std::filesystem::remove(file_);
    const bool link = std::string_view(c.why).ends_with("link");
    WriteAll(link ? target : file_, planted);
    if (link) std::filesystem::create_symlink(target, file_);
    ASSERT_EQ(::chmod(file_.c_str(), c.mode), 0);
    if (c.owner != 0 && ::chown(file_.c_str(), c.owner, c.owner) != 0) continue;
    EXPECT_EQ(CheckProfileFile(file_).value_or("used"), c.why);
    EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 0) << c.why;
    EXPECT_FALSE(Put("Overclock", "InWatch", "0")) << c.why;
    EXPECT_EQ(ReadAll(file_), planted) << c.why;
  }
}

TEST_F(ProfileFileTest, GarbageFilesNeverCrashAndYieldDefaults) {
  std::mt19937 random(1234);
  for (int round = 0; round < 20; ++round) {
    std::string garbage(4096 + round * 997, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    WriteAll(file_, garbage);
    EXPECT_EQ(GetInt("Overclock", "InWatch", 7), 7);
    ASSERT_TRUE(Put("Overclock", "InWatch", "1"));
    EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 1);
    EXPECT_EQ(ReadAll(file_).substr(0, garbage.size()), garbage) << "the garbage itself is kept";
  }
  WriteAll(file_, std::string("[Overclock]\nInWatch=1\0trailing\n[B\0ad]\nK=v\n", 40));
  EXPECT_EQ(Get("Overclock", "InWatch"), "1");
  EXPECT_EQ(Get("B", "K"), "<none>");
}

TEST_F(ProfileFileTest, HandlesMegabyteLines) {
  const std::string huge(4 * 1024 * 1024, 'x');
  const std::string original = "[Overclock]\nBig=" + huge + "\n" + huge + "\n[Board]\nFan1=1\n";
  WriteAll(file_, original);
  EXPECT_EQ(Get("Overclock", "Big"), std::string(255, 'x'));
  EXPECT_EQ(GetInt("Board", "Fan1", 0), 1);
  ASSERT_TRUE(Put("Board", "Fan2", "1"));
  EXPECT_EQ(GetInt("Board", "Fan2", 0), 1);
  EXPECT_TRUE(ReadAll(file_) == original + "Fan2=1\n");
}

TEST_F(ProfileFileTest, SomethingOtherThanAFileReadsAsDefaultsAndRefusesWrites) {
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(GetInt("Overclock", "InWatch", 4), 4);  // must not block on the FIFO
  EXPECT_FALSE(Put("Overclock", "InWatch", "1"));
  ::unlink(file_.c_str());
  std::filesystem::create_directory(file_);
  EXPECT_EQ(GetInt("Overclock", "InWatch", 4), 4);
  EXPECT_FALSE(Put("Overclock", "InWatch", "1"));
}

TEST_F(ProfileFileTest, ConcurrentWritersOfDifferentKeysLoseNothing) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int r = 0; r <= kRounds; ++r) Put("Overclock", "Key" + std::to_string(t), std::to_string(r));
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(GetInt("Overclock", "Key" + std::to_string(t)), kRounds);
}

TEST_F(ProfileFileTest, LinesEndAtAnyRunOfCrAndLfAndEofMarksAreBlanks) {
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"CR only", "[Overclock]\rInWatch=1\rSafeFreq=140\r"},
      {"CR CR LF", "[Overclock]\r\r\nInWatch=1\r\r\nSafeFreq=140\r\r\n"},
      {"LF CR", "[Overclock]\n\rInWatch=1\n\rSafeFreq=140\n\r"},
      {"marks at line ends", "[Overclock]\x1A\r\nInWatch=1\x1A\r\nSafeFreq=140 \x1A\x1A"},
      {"mark as last line", "[Overclock]\r\nInWatch=1\r\nSafeFreq=140\r\n\x1A"},
  };
  for (const auto& c : cases) {
    WriteAll(file_, c.content);
    EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 1) << c.name;
    EXPECT_EQ(Get("Overclock", "SafeFreq"), "140") << c.name;
  }

  const struct {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
  } writes[] = {
      {"CR only keeps CR", "[Overclock]\rInWatch=1\r", "Overclock", "VoltShift", "0",
       "[Overclock]\rInWatch=1\rVoltShift=0\r"},
      {"CR CR LF gets CR LF", "[Overclock]\r\r\nInWatch=1\r\r\n", "Overclock", "VoltShift", "0",
       "[Overclock]\r\r\nInWatch=1\r\r\nVoltShift=0\r\n"},
      {"a mark after a value stays", "[Overclock]\r\nSafeFreq=140\x1A", "Overclock", "SafeFreq", "150",
       "[Overclock]\r\nSafeFreq=150\x1A"},
      {"a mark line stays last", "[Overclock]\r\nInWatch=1\r\n\x1A", "New", "K", "v",
       "[Overclock]\r\nInWatch=1\r\n\r\n[New]\r\nK=v\r\n\x1A"},
  };
  for (const auto& w : writes) {
    WriteAll(file_, w.before);
    ASSERT_TRUE(Put(w.section, w.key, w.value)) << w.name;
    EXPECT_EQ(ReadAll(file_), w.after) << w.name;
  }
}

// The bytes of `text` in UTF-16 of the given byte order (the compiler encodes the literal).
std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST_F(ProfileFileTest, FilesAreWrittenBackInTheirOwnEncoding) {
  // A lone surrogate in a comment must come back unchanged, too.
  const std::u16string_view before =
      u"\uFEFF[Overclock]\r\nInWatch=1\r\nLabel=Caf\u00e9 \U0001F600\r\n; \xD800!\r\n";
  const std::u16string_view after =
      u"\uFEFF[Overclock]\r\nInWatch=0\r\nLabel=Caf\u00e9 \U0001F600\r\nSafeFreq=140\r\n; \xD800!\r\n";
  const struct {
    const char* name;
    std::string before, after;
  } cases[] = {
      {"UTF-8 with mark", "\xEF\xBB\xBF[Overclock]\r\nInWatch=1\r\nLabel=Caf\xC3\xA9 \xF0\x9F\x98\x80\r\n",
       "\xEF\xBB\xBF[Overclock]\r\nInWatch=0\r\nLabel=Caf\xC3\xA9 \xF0\x9F\x98\x80\r\nSafeFreq=140\r\n"},
      {"UTF-16 LE", Utf16(before, false), Utf16(after, false)},
      {"UTF-16 BE", Utf16(before, true), Utf16(after, true)},
  };
  for (const auto& c : cases) {
    WriteAll(file_, c.before);
    EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 1) << c.name;
    EXPECT_EQ(Get("Overclock", "Label"), "Caf\xC3\xA9 \xF0\x9F\x98\x80") << c.name;
    ASSERT_TRUE(Put("Overclock", "InWatch", "0")) << c.name;
    ASSERT_TRUE(Put("Overclock", "SafeFreq", "140")) << c.name;
    EXPECT_EQ(ReadAll(file_), c.after) << c.name;
  }

  // What cannot be put in the file's encoding is refused, and the file stays as it was.
  const std::string odd = Utf16(u"\uFEFF[Overclock]\r\nInWatch=1\r\n", false) + "\x01";
  WriteAll(file_, odd);
  EXPECT_EQ(GetInt("Overclock", "InWatch", 0), 1);
  EXPECT_FALSE(Put("Overclock", "InWatch", "0"));
  EXPECT_EQ(ReadAll(file_), odd);
  WriteAll(file_, Utf16(before, false));
  EXPECT_FALSE(Put("Overclock", "Label", "\xFF"));
  EXPECT_EQ(ReadAll(file_), Utf16(before, false));
}

TEST_F(ProfileFileTest, ReadOnlyFileIsRefusedEvenToRoot) {
  WriteAll(file_, "[Overclock]\nInWatch=0\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  EXPECT_FALSE(Put("Overclock", "InWatch", "1"));
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(Put("Overclock", "InWatch", std::nullopt));
  EXPECT_EQ(ReadAll(file_), "[Overclock]\nInWatch=0\n");
  // What the file already says needs no write.
  EXPECT_TRUE(Put("Overclock", "InWatch", "0"));
  EXPECT_TRUE(Put("Overclock", "SafeFreq", std::nullopt));
}

// Root passes every permission check, so where folder rights matter the writers
// run in child processes as an ordinary user.
constexpr uid_t kNobody = 65534;

void GiveToOrdinaryUser(const std::string& path) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
  }
}

// Starts `body` in a child process as an ordinary user; Finish gives its exit code.
pid_t StartAsOrdinaryUser(const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                           ::setresuid(kNobody, kNobody, kNobody) != 0)) {
    ::_exit(2);
  }
  ::_exit(body() ? 0 : 1);
}

int Finish(pid_t child) {
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Two processes adding keys at once: every key must be there afterwards.
void ExpectConcurrentWritersLoseNothing(const std::string& file) {
  constexpr int kKeys = 12;
  std::vector<pid_t> writers;
  for (const char* prefix : {"A", "B"}) {
    writers.push_back(StartAsOrdinaryUser([&] {
      for (int i = 0; i < kKeys; ++i) {
        if (!WritePrivateProfileString("Keys", prefix + std::to_string(i), "1", file)) return false;
      }
      return true;
    }));
  }
  for (const pid_t writer : writers) EXPECT_EQ(Finish(writer), 0) << file;
  const std::string content = ReadAll(file);
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < kKeys; ++i) {
      EXPECT_NE(content.find("\n" + (prefix + std::to_string(i)) + "=1"), std::string::npos)
          << file << " lost " << prefix << i;
    }
  }
}

TEST_F(ProfileFileTest, FolderWithoutWriteOrListRightsIsWrittenInPlaceUnderTheLock) {
  GiveToOrdinaryUser(dir_.Path());
  const struct {
    const char* name;
    mode_t mode;
  } folders[] = {{"not writable", 0555}, {"not listable", 0333}, {"only enterable", 0111}};
  for (const auto& folder : folders) {
    const std::string path = dir_ / folder.name;
    const std::string file = path + "/torvane.ini";
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    WriteAll(file, "[Overclock]\r\nInWatch=0\r\nSafeFreq=152\r\nTail=1\r\n");
    GiveToOrdinaryUser(path);
    GiveToOrdinaryUser(file);
    const ino_t inode = InodeOf(file);
    ASSERT_EQ(::chmod(path.c_str(), folder.mode), 0);

    EXPECT_EQ(Finish(StartAsOrdinaryUser([&] {
                return WritePrivateProfileString("Overclock", "InWatch", "1", file) &&
                       WritePrivateProfileString("Overclock", "SafeFreq", std::nullopt, file);
              })),
              0)
        << folder.name;
    EXPECT_EQ(ReadAll(file), "[Overclock]\r\nInWatch=1\r\nTail=1\r\n") << folder.name;
    EXPECT_EQ(InodeOf(file), inode) << folder.name;
  }

  // The lock holds whether the file is replaced (a folder we may write) or written in place.
  const std::string writable = dir_ / "writable";
  ASSERT_EQ(::mkdir(writable.c_str(), 0700), 0);
  GiveToOrdinaryUser(writable);
  ExpectConcurrentWritersLoseNothing(writable + "/torvane.ini");
  ExpectConcurrentWritersLoseNothing(dir_ / "not listable/torvane.ini");
  for (const auto& folder : folders) ::chmod((dir_ / folder.name).c_str(), 0700);
}

std::string Utf16Le(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out += {c, '\0'};
  return out;
}

// Every state an in-place rewrite can be stopped in: each step whole, or its write
// cut after any byte. Each key must read its old or its new value in every one.
TEST(InPlaceRewrite, EveryInterruptedStateReadsEachKeyOldOrNew) {
  struct Key {
    const char *section, *name, *old, *fresh;
  };
  const struct {
    std::string old, fresh;
    std::vector<Key> keys;
  } cases[] = {
      {"[Overclock]\nInWatch=0\nSafeFreq=142.466666666667",
       "[Overclock]\nInWatch=0\nSafeFreq=140",
       {{"Overclock", "SafeFreq", "142.466666666667", "140"}, {"Overclock", "InWatch", "0", "0"}}},
      {"[Overclock]\r\nSafeFreq=142.466666666667\r\nInWatch=0",
       "[Overclock]\r\nSafeFreq=152\r\nInWatch=0",
       {{"Overclock", "SafeFreq", "142.466666666667", "152"}, {"Overclock", "InWatch", "0", "0"}}},
      {"Lone=1\n[Overclock]\nInWatch=1\nSafeFreq=140\n[overclock]\nInWatch=7\n",
       "Lone=2\n[Overclock]\nInWatch=0\n[overclock]\nInWatch=7\n\n[Volt]\nV33=3.35\n",
       {{"Overclock", "InWatch", "1", "0"},
        {"Overclock", "SafeFreq", "140", "<none>"},
        {"Volt", "V33", "<none>", "3.35"}}},
      {"[Overclock]\r\nInWatch=0\r\n",
       "[Overclock]\r\nInWatch=1\r\nSafeFreq=142.466666666667\r\n",
       {{"Overclock", "InWatch", "0", "1"}, {"Overclock", "SafeFreq", "<none>", "142.466666666667"}}},
      {Utf16Le("[Overclock]\r\nInWatch=0"),
       Utf16Le("[Overclock]\r\nInWatch=1\r\nSafeFreq=140"),
       {{"Overclock", "InWatch", "0", "1"}, {"Overclock", "SafeFreq", "<none>", "140"}}},
  };
  const TempDir dir;
  const std::string file = dir / "torvane.ini";
  for (const auto& rewrite : cases) {
    std::string state = rewrite.old;
    const auto expectOldOrNew = [&](const std::string& content) {
      WriteAll(file, content);
      for (const Key& key : rewrite.keys) {
        const std::string value = GetPrivateProfileString(key.section, key.name, "<none>", file);
        ASSERT_TRUE(value == key.old || value == key.fresh) << key.name << " reads " << value << " in\n"
                                                            << content;
      }
    };
    const auto written = [&](std::size_t offset, std::string_view bytes) {
      std::string content = state;
      content.resize(std::max(content.size(), offset + bytes.size()));
      return content.replace(offset, bytes.size(), bytes);
    };
    for (const InPlaceStep& step : InPlaceRewrite(rewrite.old, rewrite.fresh)) {
      ASSERT_NO_FATAL_FAILURE(expectOldOrNew(state));
      for (std::size_t torn = 1; !step.cut && torn < step.bytes.size(); ++torn)
        ASSERT_NO_FATAL_FAILURE(expectOldOrNew(written(step.offset, step.bytes.substr(0, torn))));
      state = step.cut ? state.substr(0, step.offset) : written(step.offset, step.bytes);
    }
    EXPECT_EQ(state, rewrite.fresh);
    ASSERT_NO_FATAL_FAILURE(expectOldOrNew(state));
  }
}

// The payload names its own generation, so a reader can tell a complete file
// from a torn one.
std::string Payload(unsigned generation) {
  return std::to_string(generation) + ":" +
         std::string(1000 + generation % 5000, static_cast<char>('a' + generation % 26));
}

TEST_F(ProfileFileTest, SurvivesWritersKilledAtRandomMoments) {
  const std::string comment = "; " + std::string(256 * 1024, '#') + "\n";
  const std::string head = comment + "[Overclock]\nPayload=";
  const std::string tail = "\n[Tail]\nEnd=yes\n";
  WriteAll(file_, head + Payload(0) + tail);
  std::mt19937 random(::getpid());
  for (int round = 0; round < 25; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (unsigned generation = 1 + round * 100000u;; ++generation) {
        Put("Overclock", "Payload", Payload(generation));
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    const std::string content = ReadAll(file_);
    ASSERT_GE(content.size(), head.size() + tail.size()) << "torn file in round " << round;
    ASSERT_EQ(content.substr(0, head.size()), head) << "round " << round;
    ASSERT_EQ(content.substr(content.size() - tail.size()), tail) << "round " << round;
    const std::string payload = content.substr(head.size(), content.size() - head.size() - tail.size());
    ASSERT_EQ(payload, Payload(static_cast<unsigned>(std::stoul(payload)))) << "round " << round;
  }
  // Temporaries of the killed writers are swept by the next write.
  ASSERT_TRUE(Put("Overclock", "Done", "1"));
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    EXPECT_EQ(entry.path().filename(), "torvane.ini");
  }
}

// A first write killed at random leaves no file or the whole one (on tmpfs: fast syncs).
TEST_F(ProfileFileTest, AFirstWriteKilledAtRandomLeavesNoFileOrTheWholeOne) {
  const bool shm = std::filesystem::is_directory("/dev/shm");
  ScopedEnv memory("TMPDIR", shm ? std::optional<std::string>("/dev/shm") : std::nullopt);
  const TempDir folder;
  const std::string file = folder / "torvane.ini", value(64 * 1024, 'v');
  const auto writeInChild = [&] {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(WritePrivateProfileString("Overclock", "Payload", value, file) ? 0 : 1);
    return child;
  };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Finish(writeInChild()), 0);  // how long a whole write takes, fork included
  const auto span =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::mt19937 random(::getpid());
  int whole = 0;
  for (int round = 0; round < 200; ++round) {
    std::filesystem::remove(file);
    const pid_t child = writeInChild();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() + 1)));
    ::kill(child, SIGKILL);
    Finish(child);
    if (!std::filesystem::exists(file)) continue;
    ASSERT_EQ(ReadAll(file), "[Overclock]\nPayload=" + value + "\n") << "torn in round " << round;
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ++whole;
  }
  EXPECT_GT(whole, 0);
}

}  // namespace
}  // namespace rq::platform
