#include "splash/splash_layout.h"

#include <gtest/gtest.h>

#include <climits>

namespace tvl {


constexpr int64_t kGiB = int64_t{1} << 30;

TEST(ProgressFill, Table) {
  struct Case {
    int64_t done, total;
    int32_t want;
  } cases[] = {
      {0, 1000, 0},
      {500, 1000, 211},        // red from x = 27 to 237 inclusive
      {1023, 1024, 421},
      {1024, 1024, 422},
      {5000, 4000, 422},       // more received than listed: a full bar
      {INT_MAX, 1, 422},       // far beyond the bar, still no overflow
      {1, INT_MAX, 0},
      {1, 422, 1},
      {1, 423, 0},
      {999999, 1000000, 421},
      {0, 30 * kGiB, 0},       // beyond 32 bits: start, middle, end
      {15 * kGiB, 30 * kGiB, 211},
      {30 * kGiB - 1, 30 * kGiB, 422},
      {2 * kGiB, 4 * kGiB, 211},
      {4 * kGiB, 2 * kGiB, 422},
      {INT64_MAX, 1, 422},
      {1, INT64_MAX, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(progressFillWidth(c.done, c.total), c.want) << c.done << " of " << c.total;
}

TEST(ProgressFill, SinglePrecisionDecidesTheEdge) {
  // Just short of the total: 421.9999998 in double precision, but the
  // fraction rounds to 1.0f first, which fills the whole bar.
  EXPECT_EQ(progressFillWidth(INT_MAX - 1, INT_MAX), 422);
  EXPECT_EQ(progressFillWidth(2147483520, 2147483647), 421);
}

TEST(AmountsText, Table) {
  struct Case {
    int64_t done, total;
    const char* want;
  } cases[] = {
      {0, 1000, "0 / 0 kb"},
      {1023, 1024, "0 / 1 kb"},
      {5000, 4000, "4 / 3 kb"},
      {1536000, 4096000, "1500 / 4000 kb"},
      {INT_MAX, INT_MAX, "2097151 / 2097151 kb"},  // the largest total still in kb
      {0, 2 * kGiB, "0 / 2048 MB"},
      {INT_MAX, 2 * kGiB, "2047 / 2048 MB"},
      {4 * kGiB - 1, 4 * kGiB, "4095 / 4096 MB"},
      {5 * kGiB, 4 * kGiB, "5120 / 4096 MB"},   // more received than listed
      {15 * kGiB, 30 * kGiB, "15360 / 30720 MB"},
      {1024 * kGiB - 1, 1024 * kGiB - 1, "1048575 / 1048575 MB"},
      {512 * kGiB, 1024 * kGiB, "512 / 1024 GB"},
      {INT64_MAX, INT64_MAX, "8589934591 / 8589934591 GB"},
  };
  for (const Case& c : cases) EXPECT_EQ(amountsText(c.done, c.total), c.want);
}

TEST(AmountsText, CentredOn238) {
  EXPECT_EQ(amountsTextLeft(40), 218);
  EXPECT_EQ(amountsTextLeft(41), 218);  // half width truncates
  EXPECT_EQ(amountsTextLeft(0), 238);
  EXPECT_EQ(amountsTextLeft(600), -62);  // wider than the bar: starts left of it
}

TEST(FileLine, ListFilesShowCheckingWithBusyCursor) {
  struct Case {
    const char* file;
    const char* text;
    bool busy;
  } cases[] = {
      {"files.txt", "checking update...", true},
      {"FILES.TXT", "checking update...", true},
      {"files-large.txt", "checking update...", true},
      {"Clan_Icons_List.txt", "checking update...", true},
      {"clan_icons_list.txt", "checking update...", true},
      {"data/files.txt", "data/files.txt", false},
      {"files.txt ", "files.txt ", false},
      {"files.tx", "files.tx", false},
      {"", "", false},
      {"data/textures/guild.png", "data/textures/guild.png", false},
      {"TervalisOnline2D.exe.new", "TervalisOnline2D.exe.new", false},
      {"\xF4\xE0\xE9\xEB.txt", "\xF4\xE0\xE9\xEB.txt", false},  // bytes as they are
  };
  for (const Case& c : cases) {
    FileLine line = fileLineFor(c.file);
    EXPECT_EQ(line.text, c.text) << c.file;
    EXPECT_EQ(line.busyCursor, c.busy) << c.file;
  }
}

TEST(CloseBox, EdgesFromMouseMessages) {
  struct Case {
    uint32_t lParam;
    bool inside;
  } cases[] = {
      {(359u << 16) | 486u, true},  {(381u << 16) | 508u, true},  {(370u << 16) | 497u, true},
      {(359u << 16) | 485u, false}, {(370u << 16) | 509u, false}, {(358u << 16) | 490u, false},
      {(382u << 16) | 490u, false}, {0u, false},
  };
  for (const Case& c : cases) {
    SplashPoint p = mousePoint(c.lParam);
    EXPECT_EQ(kCloseBox.contains(p.x, p.y), c.inside) << p.x << "," << p.y;
  }
}

TEST(MousePoint, XUnsignedYSigned) {
  SplashPoint p = mousePoint(0xFFFFFFFFu);
  EXPECT_EQ(p.x, 65535);
  EXPECT_EQ(p.y, -1);
  p = mousePoint((50u << 16) | 100u);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 50);
}

TEST(CentredOrigin, Table) {
  struct Case {
    int32_t right, bottom, w, h, x, y;
  } cases[] = {
      {1920, 1080, 600, 400, 660, 340},
      {1024, 768, 512, 400, 256, 184},
      {1024, 768, 0, 0, 512, 384},        // no skin
      {1024, 768, 1025, 771, 0, -1},      // -0.5 and -1.5 truncate toward zero
      {1024, 768, 1030, 800, -3, -16},
  };
  for (const Case& c : cases) {
    SplashPoint p = centredOrigin(c.right, c.bottom, c.w, c.h);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

}  // namespace tvl
