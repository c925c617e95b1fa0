#include "publish/pack.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <random>

#include "base/text.h"
#include "publish/list_format.h"
#include "publish/md5_test_util.h"
#include "publish/zip_read_test_util.h"
#include "release/sha256.h"
#include "test_util.h"

namespace publish {
namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string utBlock(uint32_t t) {
  return std::string("UT\x05\x00\x01", 5) + std::string{char(t), char(t >> 8), char(t >> 16), char(t >> 24)};
}

TEST(PackFile, MembersHoldTheWholeFileUnderItsListName) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 97) + "\n";
  struct Case {
    std::string content;
    bool deflated;
  } cases[] = {
      {text, true},                        // compressible, several read chunks
      {randomBytes(300000, 1), false},     // deflate would grow it
      // Random and text chunks in turn: the coding switches between them.
      {randomBytes(300000, 2) + text + randomBytes(600000, 4) + text, true},
      {"", false},                         // deflating nothing gives 2 bytes
      {"x", false},
  };
  const int64_t stamp = 1700000000;  // 2023-11-14T22:13:20Z
  for (const Case& c : cases) {
    writeFile(dir.file("in"), c.content);
    PackResult r;
    std::string error;
    uint64_t counted = 0;
    ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "data/sub/file.pak", stamp, 6, dir.file("out.zip"), &r, &error,
                         [&](uint64_t n) { counted += n; }))
        << error;
    EXPECT_EQ(r.md5, md5Of(c.content));
    EXPECT_EQ(r.size, c.content.size());
    EXPECT_EQ(counted, c.content.size());
    EXPECT_EQ(r.deflated, c.deflated) << c.content.size();
    EXPECT_EQ(r.outputSize, readFile(dir.file("out.zip")).size());

    Member m = readArchive(dir.file("out.zip"));
    EXPECT_EQ(m.count, 1);
    EXPECT_EQ(m.name, "data/sub/file.pak");
    EXPECT_EQ(m.method, c.deflated ? 8 : 0);
    EXPECT_EQ(m.data, c.content);
    EXPECT_EQ(m.closeResult, UNZ_OK);
    EXPECT_EQ(m.dosDate, dosDateTime(stamp));
    EXPECT_EQ(m.versionMadeBy, 20u);  // host 0: DOS attributes
    EXPECT_EQ(m.externalFa, 0x20u);   // archive, not read-only
    EXPECT_EQ(m.localExtra, utBlock(stamp));
    EXPECT_EQ(m.centralExtra, utBlock(stamp));
    // Local header, central record (each with name and UT block), end record.
    if (!c.deflated) {
      EXPECT_EQ(r.outputSize, c.content.size() + (30 + 17 + 9) + (46 + 17 + 9) + 22);
    }
  }
}

TEST(PackFile, SameInputGivesSameBytesAndTimesOutsideTheUtFieldAreLeftOut) {
  TempDir dir;
  writeFile(dir.file("in"), std::string(100000, 'z'));
  PackResult r;
  std::string error;
  ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "a", 1000000000, 9, dir.file("1.zip"), &r, &error)) << error;
  ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "a", 1000000000, 9, dir.file("2.zip"), &r, &error)) << error;
  EXPECT_EQ(readFile(dir.file("1.zip")), readFile(dir.file("2.zip")));
  ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "a", 1000000002, 9, dir.file("3.zip"), &r, &error)) << error;
  EXPECT_NE(readFile(dir.file("1.zip")), readFile(dir.file("3.zip")));

  // Before 1980 the DOS time is clamped; before 1970 there is no UT field.
  ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "a", -86400, 6, dir.file("4.zip"), &r, &error)) << error;
  Member m = readArchive(dir.file("4.zip"));
  EXPECT_EQ(m.dosDate, dosDateTime(kDosEpoch));
  EXPECT_EQ(m.localExtra, "");
  EXPECT_EQ(m.data, std::string(100000, 'z'));
}

TEST(PackFile, LevelZeroStoresAndBadInputsFailWithTheirPath) {
  TempDir dir;
  writeFile(dir.file("in"), std::string(5000, 'a'));
  PackResult r;
  std::string error;
  ASSERT_TRUE(packFile(md5Provider(), dir.file("in"), "a", 0, 0, dir.file("s.zip"), &r, &error)) << error;
  EXPECT_FALSE(r.deflated);
  EXPECT_EQ(readArchive(dir.file("s.zip")).method, 0);

  EXPECT_FALSE(packFile(md5Provider(), dir.file("missing"), "a", 0, 6, dir.file("m.zip"), &r, &error));
  EXPECT_NE(error.find(dir.file("missing")), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(packFile(md5Provider(), dir.file("in"), "a", 0, 6, dir.file("no/such/dir/x.zip"), &r, &error));
  EXPECT_NE(error.find("x.zip"), std::string::npos) << error;
}

TEST(PackBytes, CopyAndHash) {
  TempDir dir;
  std::string list = "a\t1\t2024-01-01T00:00:00Z\t1\t0CC175B9C0F1B6A831C399E269772661\r\n";
  PackResult r;
  std::string error;
  ASSERT_TRUE(packBytes(md5Provider(), list, "files.txt", 1700000000, 6, dir.file("files.txt"), &r, &error)) << error;
  Member m = readArchive(dir.file("files.txt"));
  EXPECT_EQ(m.name, "files.txt");
  EXPECT_EQ(m.data, list);

  std::string bytes = randomBytes(700000, 3);
  writeFile(dir.file("icon.png"), bytes);
  ASSERT_TRUE(copyFile(md5Provider(), dir.file("icon.png"), dir.file("copy.png"), &r, &error)) << error;
  EXPECT_EQ(readFile(dir.file("copy.png")), bytes);
  EXPECT_EQ(r.md5, md5Of(bytes));
  release::Digest sha = release::sha256Of(bytes.data(), bytes.size());
  EXPECT_EQ(r.sha256, tvl::toHexLower(sha.data(), sha.size()));  // from the same pass
  PackResult h;
  ASSERT_TRUE(hashFile(md5Provider(), dir.file("icon.png"), &h, &error)) << error;
  EXPECT_EQ(h.md5, r.md5);
  EXPECT_EQ(h.size, bytes.size());
}

}  // namespace
}  // namespace publish
