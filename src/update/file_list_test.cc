#include "update/file_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "platform/fs.h"
#include "test_util.h"
#include "transfer/paths.h"
#include "update/updater.h"

namespace tvl {


namespace {

struct Row {
  std::string name;
  int64_t size;
  std::string digest;
  bool operator==(const Row& o) const { return name == o.name && size == o.size && digest == o.digest; }
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << "{" << r.name << ", " << r.size << ", " << r.digest << "}";
}

std::vector<Row> parse(const std::string& text) {
  static const ServerLocation source{"host", "/p/"};
  std::vector<FileListEntry> entries;
  appendFileListEntries(text.data(), text.size(), source, "dir/", true, entries);
  std::vector<Row> rows;
  for (const FileListEntry& e : entries) {
    EXPECT_EQ(e.source, &source);
    EXPECT_EQ(e.directory, "dir/");
    EXPECT_TRUE(e.packed);
    EXPECT_TRUE(e.localDigest.empty());
    rows.push_back({e.name, e.size, e.digest});
  }
  return rows;
}

TEST(FileList, SplitFields) {
  struct Case {
    std::string line, delimiters;
    std::vector<std::string> want;
  } cases[] = {
      {"", "\t", {}},
      {"\t\t\t", "\t", {}},
      {"a", "\t", {"a"}},
      {"a\tb", "\t", {"a", "b"}},
      {"\ta\t\tb\t", "\t", {"a", "b"}},
      {" a b ", "\t", {" a b "}},
      {"a b\tc", " \t", {"a", "b", "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitFields(c.line, c.delimiters), c.want) << c.line;
}

TEST(FileList, SizeField) {
  struct Case {
    const char* text;
    int64_t want;
  } cases[] = {
      {"12", 12},
      {"12ab", 12},
      {"abc", 0},
      {"", 0},
      {"-5", -5},
      {"+7", 7},
      {"  \v\f42", 42},
      {"- 5", 0},
      {"+", 0},
      {"0x10", 0},
      {"2147483647", 2147483647},
      {"2147483648", 2147483648},
      {"4294967295", 4294967295},
      {"4294967296", 4294967296},
      {"6442450944", 6442450944},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MAX},
      {"99999999999999999999999999999", INT64_MAX},
      {"-2147483649", -2147483649},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", INT64_MIN},
      {"-99999999999999999999999999999", INT64_MIN},
      {"0000000000000000000000000000012", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(parseListSize(c.text), c.want) << c.text;
}

TEST(FileList, Lines) {
  const std::string a = "a.pak\tx\ty\t10\tAAAA";
  const std::string b = "dir/b c.txt\t\t\tv\tw\t-3\tBBBB";
  std::vector<Row> ab = {{"a.pak", 10, "AAAA"}, {"dir/b c.txt", -3, "BBBB"}};
  struct Case {
    const char* what;
    std::string text;
    std::vector<Row> want;
  } cases[] = {
      {"CR LF", a + "\r\n" + b + "\r\n", ab},
      {"LF", a + "\n" + b + "\n", ab},
      {"CR", a + "\r" + b + "\r", ab},
      {"no final line break keeps the last byte", a + "\n" + b, ab},
      {"blank lines between", "\n\r\n" + a + "\n\n\r\r" + b + "\n\n", ab},
      {"TABs at start and end", "\t" + a + "\t\n\t\t" + b + "\t\t", ab},
      {"four fields", "n\tx\t5\tD", {}},
      {"six fields", "n\tx\ty\t5\tD\tz", {}},
      {"spaces do not separate", "n x y 5 D", {}},
      {"spaces are kept", " n \t x\ty\t 5 \t D ", {{" n ", 5, " D "}}},
      {"only TABs", "\t\t\t\t\t", {}},
      {"duplicates stay", a + "\n" + a, {ab[0], ab[0]}},
      {"size without digits", "n\tx\ty\tbig\tD", {{"n", 0, "D"}}},
      {"lower-case digest kept as it is", "n\tx\ty\t1\tabcdef", {{"n", 1, "abcdef"}}},
      {"bytes above 127", "\xC0\xFF.txt\tx\ty\t1\tD", {{"\xC0\xFF.txt", 1, "D"}}},
      {"empty", "", {}},
      {"blank lines only", "\r\n\r\n\n\r", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.text), c.want) << c.what;
}

TEST(FileList, LongLinesAndManyLines) {
  std::string name(100000, 'n');
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "f" + std::to_string(i) + "\tx\ty\t" + std::to_string(i) + "\tD\n";
  text += name + "\tx\ty\t1\tD";
  std::vector<Row> rows = parse(text);
  ASSERT_EQ(rows.size(), 1001u);
  EXPECT_EQ(rows[999], (Row{"f999", 999, "D"}));
  EXPECT_EQ(rows[1000].name, name);
}

TEST(FileList, DownloadTotalSaturates) {
  auto entry = [](int64_t size, bool needed) {
    FileListEntry e;
    e.size = size;
    e.needsDownload = needed;
    return e;
  };
  EXPECT_EQ(sumDownloadSizes({}), 0);
  EXPECT_EQ(sumDownloadSizes({entry(5, true), entry(7, false), entry(11, true)}), 16);
  constexpr int64_t kGiB = int64_t{1} << 30;
  EXPECT_EQ(sumDownloadSizes({entry(2 * kGiB - 1, true), entry(1, true)}), 2 * kGiB);
  EXPECT_EQ(sumDownloadSizes({entry(4 * kGiB - 1, true), entry(1, true), entry(6 * kGiB, true)}), 10 * kGiB);
  EXPECT_EQ(sumDownloadSizes({entry(INT64_MAX, true), entry(INT64_MAX, true), entry(1, true)}), INT64_MAX);
  EXPECT_EQ(sumDownloadSizes({entry(INT64_MIN, true), entry(-1, true)}), INT64_MIN);
}

// Reading from disk, the way the worker reads both lists.
class FileListFiles : public ::testing::Test {
 protected:
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd{dir.path()};
  Updater updater{testutil::settings(), nullptr};
};

TEST_F(FileListFiles, BothListsInOrder) {
  testutil::writeFile(dir.file("files.txt"), "game.pak\tx\ty\t100\tG1\r\nmap.dat\tx\ty\t50\tG2\r\n");
  testutil::writeFile(dir.file("clan_icons_list.txt"), "1.png\tx\ty\t3\tI1\n");
  loadFileList(updater, updater.updateSource, baseDir + "files.txt", "", true);
  loadFileList(updater, updater.iconsSource, baseDir + "clan_icons_list.txt", "data/textures/", false);
  ASSERT_EQ(updater.entries.size(), 3u);
  const char* names[] = {"game.pak", "map.dat", "1.png"};
  for (size_t i = 0; i < 3; ++i) {
    const FileListEntry& e = updater.entries[i];
    bool main = i < 2;
    EXPECT_EQ(e.name, names[i]);
    EXPECT_EQ(e.source, main ? &updater.updateSource : &updater.iconsSource);
    EXPECT_EQ(e.directory, main ? "" : "data/textures/");
    EXPECT_EQ(e.packed, main);
  }
  // The worker deletes each list right after reading it: nothing may hold it.
  EXPECT_TRUE(platform::deleteFile(baseDir + "files.txt"));
}

TEST_F(FileListFiles, MissingEmptyOrDirectoryAddsNothing) {
  testutil::writeFile(dir.file("empty.txt"), "");
  std::filesystem::create_directory(dir.file("adir"));
  loadFileList(updater, updater.updateSource, baseDir + "missing.txt", "", true);
  loadFileList(updater, updater.updateSource, baseDir + "empty.txt", "", true);
  loadFileList(updater, updater.updateSource, baseDir + "adir", "", true);
  EXPECT_TRUE(updater.entries.empty());
}

}  // namespace

}  // namespace tvl
