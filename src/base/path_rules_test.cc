#include "base/path_rules.h"

#include <gtest/gtest.h>

namespace tvl {


TEST(PathRules, NormalizeRelativePath) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"/Data/Update/", "data\\update\\"},
      {"\\\\x", "\\x"},  // only one leading separator goes
      {"", ""},
      {".", "."},
      {"A/b\\C.TXT", "a\\b\\c.txt"},
      {"\xC0/B", "\xC0\\b"},  // bytes above 127 untouched
  };
  for (const Case& c : cases) EXPECT_EQ(normalizeRelativePath(c.in), c.want) << c.in;
}

TEST(PathRules, SafeRelativePath) {
  struct Case {
    std::string path;
    bool safe;
  } cases[] = {
      {"files.txt", true},
      {"data/textures/a.png", true},
      {"data\\a.pak", true},
      {"./a", true},
      {"a/../b", true},
      {"a/b/../../c", true},
      {"..a", true},
      {"a..b/c", true},
      {"", false},
      {"..", false},
      {"../x", false},
      {"..\\x", false},
      {"a/../../x", false},
      {"a\\..\\..\\x", false},
      {"/abs", false},
      {"\\abs", false},
      {"\\\\server\\share\\x", false},
      {"C:\\x", false},
      {"c:x", false},
      {"a/b:stream", false},
      {"a/.../x", false},
      {". ./x", false},
      {".. /x", false},
      {std::string("a/../..\0b", 9), false},  // the system would see a/../..
  };
  for (const Case& c : cases) EXPECT_EQ(isSafeRelativePath(c.path), c.safe) << c.path;
}

}  // namespace tvl
