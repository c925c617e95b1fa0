#include "publish/list_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "update/file_list.h"

namespace publish {
namespace {

// Lines are read back with the launcher's own parser.
TEST(ListFormat, LinesReadBackAsOneEntryEach) {
  std::string text = formatListLine("data/a b.pak", "release 7", 1700000000, 12345, "0CC175B9C0F1B6A831C399E269772661") +
                     formatListLine("TervalisOnline2D.exe", "1", 0, 0, "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  tvl::ServerLocation source{"update.example", "/3d/"};
  std::vector<tvl::FileListEntry> entries;
  tvl::appendFileListEntries(text.data(), text.size(), source, "", false, entries);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "data/a b.pak");
  EXPECT_EQ(entries[0].size, 12345);
  EXPECT_EQ(entries[0].digest, "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(entries[1].name, "TervalisOnline2D.exe");
  EXPECT_EQ(entries[1].size, 0);
  EXPECT_EQ(entries[1].digest, "D41D8CD98F00B204E9800998ECF8427E");

  // The launcher skips the middle fields; split by its rules they hold the
  // label and the date.
  std::vector<std::string> lines = tvl::splitFields(text, "\r\n");
  ASSERT_EQ(lines.size(), 2u);
  std::vector<std::string> first = tvl::splitFields(lines[0], "\t"), second = tvl::splitFields(lines[1], "\t");
  ASSERT_EQ(first.size(), 5u);
  ASSERT_EQ(second.size(), 5u);
  EXPECT_EQ(first[1], "release 7");
  EXPECT_EQ(first[2], "2023-11-14T22:13:20Z");
  EXPECT_EQ(second[2], "1970-01-01T00:00:00Z");
}

TEST(ListFormat, ReleaseLabelsThatWouldShiftFieldsAreRefused) {
  EXPECT_EQ(releaseLabelProblem("2.4 beta"), "");
  for (const char* bad : {"", "a\tb", "a\rb", "a\nb"}) EXPECT_NE(releaseLabelProblem(bad), "") << bad;
}

TEST(ListFormat, UtcTextRoundTrips) {
  struct Case {
    const char* text;
    int64_t seconds;
  } cases[] = {
      {"1970-01-01", 0},
      {"2000-02-29T12:34:56Z", 951827696},
      {"2024-12-31 23:59:59", 1735689599},
      {"1969-12-31T23:59:59", -1},
      {"@1700000000", 1700000000},
  };
  for (const Case& c : cases) {
    int64_t s = 7;
    ASSERT_TRUE(parseUtc(c.text, &s)) << c.text;
    EXPECT_EQ(s, c.seconds) << c.text;
  }
  EXPECT_EQ(formatUtc(951827696), "2000-02-29T12:34:56Z");
  EXPECT_EQ(formatUtc(-1), "1969-12-31T23:59:59Z");
  for (const char* bad : {"", "2023-02-29", "2024-13-01", "2024-01-01T24:00:00", "2024-1-01", "@", "@12x",
                          "2024-01-01T10:00", "yesterday"}) {
    int64_t s;
    EXPECT_FALSE(parseUtc(bad, &s)) << bad;
  }
}

TEST(ListFormat, DosTimesAreUtcAndClampedToTheFormat) {
  // 2000-02-29 12:34:56 -> date (20<<9 | 2<<5 | 29), time (12<<11 | 34<<5 | 28)
  EXPECT_EQ(dosDateTime(951827696), (uint32_t(20 << 9 | 2 << 5 | 29) << 16) | (12 << 11 | 34 << 5 | 28));
  EXPECT_EQ(dosDateTime(951827697), dosDateTime(951827696));  // two-second steps
  uint32_t epoch = (uint32_t(0 << 9 | 1 << 5 | 1) << 16);
  EXPECT_EQ(dosDateTime(0), epoch);
  EXPECT_EQ(dosDateTime(kDosEpoch), epoch);
  EXPECT_EQ(dosDateTime(int64_t(1) << 40) >> 25, 127u);  // year 2107
  EXPECT_EQ(stampOf(1500, false, 0), 0);
  EXPECT_EQ(stampOf(-1, false, 0), -1);
  EXPECT_EQ(stampOf(5000000000, true, 42), 42);
}

}  // namespace
}  // namespace publish
