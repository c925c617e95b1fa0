#include "transfer/paths.h"

#include <gtest/gtest.h>

TEST(Paths, NormalizeRelativePath) {
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

TEST(Paths, BaseDirAndDataPath) {
  initBaseDir();
  EXPECT_EQ(baseDir, ".\\");
  EXPECT_EQ(dataPath("update\\"), ".\\data\\update\\");
  EXPECT_EQ(dataPath("/Skins/A.png"), ".\\data\\skins\\a.png");
}
