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

TEST(Decimal, OneSpellingWithinTheLimit) {
  struct Case {
    const char* text;
    uint64_t max;
    bool ok;
    uint64_t want;
  } cases[] = {
      {"0", 10, true, 0},           {"10", 10, true, 10},       {"11", 10, false, 0},
      {"007", 10, false, 0},        {"", 10, false, 0},         {"+1", 10, false, 0},
      {"-1", 10, false, 0},         {"1 ", 10, false, 0},       {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, false, 0},           {"9223372036854775808", INT64_MAX, false, 0},
  };
  for (const Case& c : cases) {
    uint64_t v = 0;
    EXPECT_EQ(parseDecimal(c.text, c.max, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.want) << c.text;
    }
  }
  int64_t s = 0;
  EXPECT_TRUE(parseSignedDecimal("-9223372036854775807", &s));
  EXPECT_EQ(s, -INT64_MAX);
  EXPECT_FALSE(parseSignedDecimal("-", &s));
  EXPECT_FALSE(parseSignedDecimal("--1", &s));
  EXPECT_FALSE(parseSignedDecimal("9223372036854775808", &s));
}

TEST(SplitTabs, KeepsEmptyFields) {
  EXPECT_EQ(splitTabs(""), std::vector<std::string>{""});
  EXPECT_EQ(splitTabs("a\t\tb\t"), (std::vector<std::string>{"a", "", "b", ""}));
}

TEST(EqualsNoCase, Table) {
  EXPECT_TRUE(equalsNoCase("TervalisOnline2D.EXE", "tervalisonline2d.exe"));
  EXPECT_TRUE(equalsNoCase("", ""));
  EXPECT_FALSE(equalsNoCase("files.txt", "files.txt "));
  EXPECT_FALSE(equalsNoCase("\xC0", "\xE0"));  // bytes above 127 are not folded
}

}  // namespace tvl
