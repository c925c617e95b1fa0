#include "splash/skin.h"

#include <gtest/gtest.h>

#include <string>

namespace tvl {


TEST(SkinPathSet, AscendingByteOrder) {
  SkinPathSet set = {"data/updater\\a.png", "data/updater\\Z.png", "data/updater\\\xC0.png",
                     "data/updater\\a.png.bak", "data/updater\\_.bmp", "data/updater\\a.png"};
  std::vector<std::string> got(set.begin(), set.end());
  std::vector<std::string> want = {"data/updater\\Z.png", "data/updater\\_.bmp", "data/updater\\a.png",
                                   "data/updater\\a.png.bak", "data/updater\\\xC0.png"};
  EXPECT_EQ(got, want);
}

TEST(ScanPrefix, Table) {
  struct Case {
    std::string dir;
    bool ok;
    std::string prefix;
  } cases[] = {
      {".", true, ""},
      {"data/updater", true, "data/updater\\"},
      {"data\\updater\\", true, "data\\updater\\"},
      {"data/updater/", true, "data/updater/\\"},  // only a backslash counts as the end
      {std::string(258, 'd'), true, std::string(258, 'd') + "\\"},
      {std::string(259, 'd'), false, ""},
      {std::string(258, 'd') + "\\", true, std::string(258, 'd') + "\\"},
  };
  for (const Case& c : cases) {
    std::string prefix = "unchanged";
    ASSERT_EQ(scanPrefix(c.dir, &prefix), c.ok) << c.dir.size();
    if (c.ok) {
      EXPECT_EQ(prefix, c.prefix);
    }
  }
}

TEST(SkinChoice, DrawModuloCount) {
  EXPECT_EQ(skinIndex(41, 2), 1u);  // two skins, r = 41: the second in byte order
  EXPECT_EQ(skinIndex(0, 3), 0u);
  EXPECT_EQ(skinIndex(32767, 5), 2u);
  EXPECT_EQ(skinIndex(32767, 1), 0u);
}

TEST(SkinChoice, DrawsStayIn15Bits) {
  for (uint32_t seed : {0u, 1u, 41u, 0x7FFFFFFFu, 0xFFFFFFFFu, 123456789u}) EXPECT_LE(firstDraw(seed), 32767u);
}

TEST(SkinChoice, EmptyListPicksNothingSingleAlwaysPicked) {
  EXPECT_EQ(pickSkin({}, 12345), "");
  for (uint32_t seed = 0; seed < 2000; seed += 7) EXPECT_EQ(pickSkin({"data/updater\\only.png"}, seed), "data/updater\\only.png");
}

TEST(SkinChoice, NearUniformOverConsecutiveTicks) {
  // Start-ups happen at arbitrary tick counts; over a run of consecutive
  // millisecond seeds each of three skins must come up about a third of the
  // time.
  SkinList list = {"a", "b", "c"};
  int counts[3] = {0, 0, 0};
  const int n = 30000;
  for (uint32_t seed = 5000000; seed < 5000000u + n; ++seed) {
    std::string s = pickSkin(list, seed);
    counts[s[0] - 'a']++;
  }
  for (int c : counts) {
    EXPECT_GT(c, n / 3 - n / 30);
    EXPECT_LT(c, n / 3 + n / 30);
  }
}

}  // namespace tvl
