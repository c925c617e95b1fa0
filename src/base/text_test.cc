#include "base/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace tvl {


TEST(FindNoCase, Table) {
  struct Case {
    const char* text;
    const char* needle;
    size_t start;
    size_t want;
  } cases[] = {
      {"abc /EDITOR x", "/editor", 0, 4},
      {"abc /EdItOr", "/editor", 4, 4},
      {"abc /editor", "/editor", 5, npos},
      {"", "", 0, npos},          // an empty text contains nothing
      {"abc", "", 0, 0},
      {"abc", "", 3, npos},       // start at the end finds nothing
      {"abc", "abcd", 0, npos},
      {"x\xC0Y", "\xE0y", 0, npos},  // bytes above 127 are not folded
      {"x\xC0Y", "\xC0y", 0, 1},
      {"\"C:\\a b\\T.exe\" /x", "\"", 1, 13},
      {"aaa", "aa", 1, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(findNoCase(c.text, c.needle, c.start), c.want) << c.text << " / " << c.needle << " @" << c.start;
}

TEST(IntToString, Table) {
  EXPECT_EQ(intToString(0), "0");
  EXPECT_EQ(intToString(7), "7");
  EXPECT_EQ(intToString(-5), "-5");
  EXPECT_EQ(intToString(1500), "1500");
  EXPECT_EQ(intToString(INT_MAX), "2147483647");
  EXPECT_EQ(intToString(INT_MIN), "-2147483648");
}

TEST(EqualsNoCase, Table) {
  EXPECT_TRUE(equalsNoCase("TervalisOnline2D.EXE", "tervalisonline2d.exe"));
  EXPECT_TRUE(equalsNoCase("", ""));
  EXPECT_FALSE(equalsNoCase("files.txt", "files.txt "));
  EXPECT_FALSE(equalsNoCase("\xC0", "\xE0"));  // bytes above 127 are not folded
}

}  // namespace tvl
