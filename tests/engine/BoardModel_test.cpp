#include <gtest/gtest.h>

#include "engine/MSupport.h"

namespace rq::engine {
namespace {

struct Row {
  const char* bios;
  const char* model;
};

void ExpectRows(std::initializer_list<Row> rows) {
  for (const Row& row : rows)
    EXPECT_EQ(DeriveBoardModel(row.bios), row.model) << "BIOS \"" << row.bios << '"';
}

TEST(BoardModel, UModels) {
  ExpectRows({
      {"U8668-D  Gra 1.0", "U8668Gra"},  // T(10,3) in the suffix set
      {"U8668-D  PRO", "U8668PRO"},
      {"U8668-D  gra", "U8668"},     // suffixes are case-sensitive
      {"U8668ABC-D rev", "U8668D"},  // "-D" at 9-10 keeps character 10
      {"U8668XXXX", "U8668"},
      {"U86", "U86"},  // shorter than every tested position
  });
}

TEST(BoardModel, MModels) {
  ExpectRows({
      {"M7VKQ ...", "M7VKQ"},
      {"MS-6728 v1.0ELI", "MS-67ELI"},  // T(5,4) "728 " is no number: first five
      {"M6712 FOO  Gra", "M6712"},      // T(5,4) = "12 F"
      {"M4BX1234xxxxGRA", "4BXGRA"},    // T(5,4) = "1234": drop the M, keep 2-4
      {"M4BX1234xxxxABC", "4BX"},
      {"M4BX-123xxxxPro", "4BXPro"},  // "-123" converts with its sign
      {"M", "M"},
  });
}

TEST(BoardModel, UpperCaseAtEight) {
  ExpectRows({
      {"KOL1234A Gra", "KOLGra"},  // T(4,4) number, T(10,3) in X
      {"KOL1234AB", "KOL"},
      {"KOLGRAXA GRA", "KOLGRGRA"},  // not a number: first five + suffix
      {"KOLGRAXA", "KOLGR"},
  });
}

TEST(BoardModel, OtherModels) {
  ExpectRows({
      {"VEX1234 abc800", "VEX800"},     // "800" in the numeric branch
      {"VEX1234 abc800-D", "VEX800D"},  // with "-D" at 15-16
      {"VEX1234 abcPRO-D", "VEXPROD"},
      {"QAV1234 ab-D", "QAVD"},  // "-D" at 11-12 keeps character 12
      {"QAV1234 abcD2", "QAVD"},
      {"QAV1234 abcV", "QAVV"},
      {"QAV1234 abcxyz", "QAV"},
      {"QAVX234 abc800", "QAVX2"},  // "800" only counts in the numeric branch
      {"QAVX234 abcEli", "QAVX2Eli"},
      {"QAVX234", "QAVX2"},
      {"N1234", "N12"},  // too short for T(8,1): no upper-case letter
      {"", ""},
  });
}

TEST(BoardModel, NonNumbersAndSigns) {
  ExpectRows({
      {"ABC+123 a", "ABC"},    // a sign followed by digits is a number
      {"ABC 123 a", "ABC 1"},  // a blank is not
      {"ABC12.3 a", "ABC12"},
      {"ABC-    a", "ABC- "},  // a lone sign is not
  });
}

}  // namespace
}  // namespace rq::engine
