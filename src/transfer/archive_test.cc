#include "transfer/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/fs.h"
#include "test_util.h"

namespace tvl {


namespace {

namespace fs = std::filesystem;

std::string fixture(const std::string& name) { return std::string(TVL_ARCHIVE_FIXTURES) + "/" + name; }

uint64_t unixToFileTime(int64_t seconds) { return static_cast<uint64_t>((seconds + 11644473600LL) * 10000000); }

std::vector<std::string> listTree(const std::string& root) {
  std::vector<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

bool readOnly(const std::string& path) {
  uint32_t a = 0;
  return platform::getAttributes(path, &a) && (a & platform::kAttrReadOnly);
}

class Archive : public ::testing::Test {
 protected:
  // Opens name with base directory base (dir() when empty); fails the test
  // when the archive does not open.
  ArchiveReader* open(const std::string& name, std::string base = std::string()) {
    ArchiveReader* r = openArchive(fixture(name));
    EXPECT_NE(r, nullptr) << name;
    if (r) {
      EXPECT_EQ(setArchiveBaseDir(r, base.empty() ? dir.path() : base), kArchiveOk);
    }
    readers.push_back(r);
    return r;
  }
  void TearDown() override {
    for (ArchiveReader* r : readers) {
      if (r) {
        EXPECT_EQ(closeArchive(r), kArchiveOk);
      }
    }
  }
  ArchiveItem item(ArchiveReader* r, int32_t index) {
    ArchiveItem it;
    EXPECT_EQ(getArchiveItem(r, index, it), kArchiveOk) << index;
    return it;
  }

  testutil::TempDir dir;
  std::vector<ArchiveReader*> readers;
};

TEST_F(Archive, NotAnArchiveGivesNoReader) {
  for (const char* name : {"not_a_zip.html", "empty_file.zip", "missing.zip", "big.bin"})
    EXPECT_EQ(openArchive(fixture(name)), nullptr) << name;
  ArchiveItem it;
  it.index = 7;
  it.name = "stale";
  EXPECT_EQ(getArchiveItem(nullptr, 0, it), kArchiveBadArguments);
  EXPECT_EQ(it.index, 0);
  EXPECT_EQ(it.name, "");
  EXPECT_EQ(setArchiveBaseDir(nullptr, "x"), kArchiveBadArguments);
  EXPECT_EQ(extractArchiveItem(nullptr, 0, "x"), kArchiveBadArguments);
  EXPECT_EQ(closeArchive(nullptr), kArchiveBadArguments);
  EXPECT_TRUE(listTree(dir.path()).empty());
}

TEST_F(Archive, CountAndIndexRange) {
  ArchiveReader* r = open("infozip.zip");
  ArchiveItem it;
  it.name = "stale";
  EXPECT_EQ(getArchiveItem(r, -1, it), kArchiveOk);
  EXPECT_EQ(it.index, 4);
  EXPECT_EQ(it.name, "");
  EXPECT_EQ(getArchiveItem(r, 4, it), kArchiveBadArguments);
  EXPECT_EQ(getArchiveItem(r, -2, it), kArchiveBadArguments);
  EXPECT_EQ(extractArchiveItem(r, 4, "x"), kArchiveBadArguments);
  EXPECT_EQ(extractArchiveItem(r, -1, "x"), kArchiveBadArguments);
  // Any order: backwards steps start again at the first entry.
  const char* names[] = {"sub/", "sub/deeper/", "sub/deeper/file.txt", "readonly.txt"};
  for (int32_t i : {3, 1, 1, 0, 2, 3}) EXPECT_EQ(item(r, i).name, names[i]) << i;
}

TEST_F(Archive, ExtractsMembers) {
  const std::string big = testutil::readFile(fixture("big.bin"));
  ASSERT_EQ(big.size(), 100000u);
  struct Case {
    const char* archive;
    int32_t index;
    const char* target;
    std::string want;
  } cases[] = {
      {"stored.zip", 0, "hello.txt", "hello stored\n"},
      {"deflated.zip", 0, "data/textures/a.png", big},
      {"streamed.zip", 0, "streamed.bin", big},  // sizes in a data descriptor
      {"infozip.zip", 2, "data\\deep\\file.txt", "from info-zip\n"},
      {"infozip_stored.zip", 0, "plain.txt", "read only\n"},
      {"empty_member.zip", 0, "empty.txt", ""},
  };
  for (const Case& c : cases) {
    ArchiveReader* r = open(c.archive);
    EXPECT_EQ(extractArchiveItem(r, c.index, c.target), kArchiveOk) << c.archive;
    std::string path = dir.path() + "/" + c.target;
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_EQ(testutil::readFile(path), c.want) << c.archive;
  }
  EXPECT_EQ(listTree(dir.path()),
            (std::vector<std::string>{"data", "data/deep", "data/deep/file.txt", "data/textures",
                                      "data/textures/a.png", "empty.txt", "hello.txt", "plain.txt", "streamed.bin"}));
}

TEST_F(Archive, ItemNames) {
  ArchiveReader* r = open("names.zip");
  std::string longTail = "TervalisOnline2D.exe" + std::string(40, 'y');
  const std::string want[] = {"TervalisOnline2D.exe", "abs/name", "b", "..\\up.txt", "server\\share", "e",
                              longTail, std::string(300, 'n')};
  ASSERT_EQ(item(r, -1).index, 8);
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(item(r, i).name, want[i]) << i;
  // A name of 300 characters extracts like any other.
  EXPECT_EQ(extractArchiveItem(r, 7, "long.txt"), kArchiveOk);
  EXPECT_EQ(testutil::readFile(dir.file("long.txt")), "n");
}

TEST(ArchiveNames, Sanitise) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"", ""},
      {"a.txt", "a.txt"},
      {"C:", ""},
      {"C:\\x\\..\\TervalisOnline2D.exe", "TervalisOnline2D.exe"},
      {"C:C:\\\\/x", "x"},
      {"/abs/name", "abs/name"},
      {"a\\..\\b", "b"},
      {"a\\../b", "b"},
      {"a/../b", "b"},
      {"a/..\\b", "b"},
      {"a/../b/../c", "c"},
      {"a/..\\b/../c", "c"},
      {"\\..\\..\\x", "x"},
      {"..\\x", "..\\x"},
      {"../x", "../x"},
      {"a/..", "a/.."},
      {"x/../C:/y", "y"},
      {std::string(70000, '/') + "z", "z"},
  };
  for (const Case& c : cases) EXPECT_EQ(sanitiseItemName(c.in), c.want) << c.in.substr(0, 40);
}

TEST_F(Archive, TargetsOutsideTheBaseAreRefused) {
  fs::create_directory(dir.file("base"));
  ArchiveReader* r = open("stored.zip", dir.file("base"));
  const char* targets[] = {"../escape.txt",   "..\\escape.txt", "sub/../../escape.txt", "/tvl-escape-test.txt",
                           "\\tvl-escape-test.txt", "C:\\tvl-escape-test.txt", "C:tvl-escape-test.txt",
                           "sub/", "", "a:stream", ".../escape.txt"};
  for (const char* t : targets) EXPECT_EQ(extractArchiveItem(r, 0, t), kArchiveCannotCreate) << t;
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"base"});
  EXPECT_FALSE(testutil::exists("/tvl-escape-test.txt"));
  // The rest of the update goes on.
  EXPECT_EQ(extractArchiveItem(r, 0, "sub/../ok.txt"), kArchiveOk);
  EXPECT_EQ(testutil::readFile(dir.file("base/ok.txt")), "hello stored\n");
}

TEST_F(Archive, PathsOver259CharactersAreRefusedNotCut) {
  ArchiveReader* r = open("deflated.zip");
  std::string base = dir.path() + "/";
  ASSERT_LT(base.size(), 150u);
  // The limit counts the terminator: 259 characters fit, 260 do not.
  std::string fits = "d/" + std::string(259 - base.size() - 2, 'f');
  std::string tooLong = fits + "g";
  EXPECT_EQ(extractArchiveItem(r, 0, tooLong), kArchiveCannotCreate);
  EXPECT_TRUE(listTree(dir.path()).empty());
  EXPECT_EQ(extractArchiveItem(r, 0, fits), kArchiveOk);
  EXPECT_EQ(testutil::readFile(base + fits), testutil::readFile(fixture("big.bin")));
  EXPECT_EQ(listTree(dir.path()), (std::vector<std::string>{"d", fits}));

  ArchiveReader* deep = open("stored.zip");
  EXPECT_EQ(setArchiveBaseDir(deep, base + std::string(300, 'b')), kArchiveBadArguments);
  EXPECT_EQ(extractArchiveItem(deep, 0, "x.txt"), kArchiveCannotCreate);
}

TEST_F(Archive, DirectoryChains) {
  // The base directory itself is created when missing, then each level.
  std::string base = dir.file("newbase");
  ArchiveReader* r = open("attrs.zip", base);
  ASSERT_EQ(item(r, 5).attributes, platform::kAttrDirectory | platform::kAttrArchive);
  EXPECT_EQ(extractArchiveItem(r, 5, "x/y/z"), kArchiveOk);
  EXPECT_EQ(extractArchiveItem(r, 0, "data/textures/a.png"), kArchiveOk);
  EXPECT_EQ(extractArchiveItem(r, 1, "top.txt"), kArchiveOk);
  EXPECT_EQ(listTree(dir.path()),
            (std::vector<std::string>{"newbase", "newbase/data", "newbase/data/textures",
                                      "newbase/data/textures/a.png", "newbase/top.txt", "newbase/x", "newbase/x/y",
                                      "newbase/x/y/z"}));
  ensureDirectoryChain(dir.file("other") + "/", "p\\q/r");
  EXPECT_TRUE(fs::is_directory(dir.file("other/p/q/r")));
}

TEST(ArchiveAttributes, FromHost) {
  struct Case {
    uint32_t external, madeBy, want;
  } cases[] = {
      {0x21, 0x0014, 0x21},            // MS-DOS: stored bits
      {0xFFFFFFFF, 0x0714, 0x37},      // host 7: only the five known bits
      {0x16, 0x0B14, 0x16},            // NTFS
      {0x02, 0x0E14, 0x02},            // VFAT
      {0x81A40000, 0x0314, 0x20},      // Unix -rw-r--r--
      {0x81240000, 0x0314, 0x21},      // Unix -r--r--r--
      {0x41ED0010, 0x0314, 0x30},      // Unix drwxr-xr-x
      {0x416D0000, 0x0314, 0x31},      // Unix dr-xr-xr-x
      {0x00000000, 0x1314, 0x21},      // any other host reads as Unix
  };
  for (const Case& c : cases) EXPECT_EQ(itemAttributes(c.external, c.madeBy), c.want) << std::hex << c.external;
}

TEST_F(Archive, AttributesOnDisk) {
  ArchiveReader* r = open("attrs.zip");
  struct Case {
    int32_t index;
    uint32_t attributes;
    bool readOnly;
  } cases[] = {{0, 0x21, true}, {1, 0x22, false}, {2, 0x24, false}, {3, 0x21, true}, {4, 0x20, false}};
  for (const Case& c : cases) {
    ArchiveItem it = item(r, c.index);
    EXPECT_EQ(it.attributes, c.attributes) << it.name;
    EXPECT_EQ(extractArchiveItem(r, c.index, it.name), kArchiveOk) << it.name;
    EXPECT_EQ(readOnly(dir.file(it.name)), c.readOnly) << it.name;
  }
}

TEST_F(Archive, ReadOnlyTargetIsReplaced) {
  ArchiveReader* r = open("attrs.zip");
  std::string target = dir.file("t.txt");
  testutil::writeFile(target, "installed");
  ASSERT_TRUE(platform::setAttributes(target, platform::kAttrReadOnly));
  EXPECT_EQ(extractArchiveItem(r, 4, "t.txt"), kArchiveOk);  // unix_rw.txt
  EXPECT_EQ(testutil::readFile(target), "unix writable\n");
  EXPECT_FALSE(readOnly(target));
  EXPECT_EQ(extractArchiveItem(r, 0, "t.txt"), kArchiveOk);  // dos_ro.txt
  EXPECT_EQ(testutil::readFile(target), "dos read-only\n");
  EXPECT_TRUE(readOnly(target));
  EXPECT_EQ(extractArchiveItem(r, 3, "t.txt"), kArchiveOk);  // unix_ro.txt over a read-only file
  EXPECT_EQ(testutil::readFile(target), "unix read-only\n");
  EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"t.txt"});
}

TEST_F(Archive, ExtendedTimestamps) {
  ArchiveReader* r = open("ut.zip");
  uint64_t dos = item(r, 0).creationTime;
  ASSERT_NE(dos, 0u);
  struct Case {
    int32_t index;
    uint64_t write, access, creation;
  } cases[] = {
      {0, unixToFileTime(1234567890), dos, dos},
      {1, unixToFileTime(1000000000), unixToFileTime(1100000000), unixToFileTime(-86400)},
      {2, unixToFileTime(1500000000), dos, dos},  // flags promise three, the block holds one
  };
  for (const Case& c : cases) {
    ArchiveItem it = item(r, c.index);
    EXPECT_EQ(it.writeTime, c.write) << it.name;
    EXPECT_EQ(it.accessTime, c.access) << it.name;
    EXPECT_EQ(it.creationTime, c.creation) << it.name;
    EXPECT_EQ(extractArchiveItem(r, c.index, it.name), kArchiveOk);
    uint64_t created, accessed, written;
    ASSERT_TRUE(platform::getFileTimes(dir.file(it.name), &created, &accessed, &written));
    EXPECT_EQ(written, c.write) << it.name;
    EXPECT_EQ(accessed, c.access) << it.name;
  }
  // Info-ZIP writes modification and access time.
  ArchiveReader* z = open("infozip.zip");
  ArchiveItem it = item(z, 2);
  EXPECT_EQ(it.writeTime, unixToFileTime(1234500000));
  EXPECT_EQ(it.accessTime, unixToFileTime(1300000000));
}

TEST(ArchiveTimes, ExtraFieldWalk) {
  struct Case {
    const char* what;
    std::vector<uint8_t> extra;
    uint64_t write;
  } cases[] = {
      {"empty", {}, 1},
      {"UT without data", {'U', 'T', 0, 0, 1, 0, 0, 0, 0}, 1},
      {"UT longer than the field", {'U', 'T', 200, 0, 1, 10, 0, 0, 0}, unixToFileTime(10)},
      {"UT cut inside the time", {'U', 'T', 5, 0, 1, 10, 0}, 1},
      {"other block longer than the field", {1, 0, 200, 0, 'U', 'T', 5, 0, 1, 10, 0, 0, 0}, 1},
      {"four bytes left", {1, 0, 0, 0, 'U', 'T', 5, 0}, 1},
      {"after another block", {1, 0, 1, 0, 9, 'U', 'T', 5, 0, 1, 0xFF, 0xFF, 0xFF, 0x7F}, unixToFileTime(INT32_MAX)},
      {"negative time", {'U', 'T', 5, 0, 1, 0, 0, 0, 0x80}, unixToFileTime(INT32_MIN)},
      {"only the first UT counts", {'U', 'T', 1, 0, 0, 'U', 'T', 5, 0, 1, 10, 0, 0, 0}, 1},
  };
  for (const Case& c : cases) {
    ArchiveItem it;
    it.writeTime = it.accessTime = it.creationTime = 1;
    applyExtendedTimestamp(c.extra.data(), c.extra.size(), it);
    EXPECT_EQ(it.writeTime, c.write) << c.what;
    EXPECT_EQ(it.accessTime, 1u) << c.what;
  }
  EXPECT_EQ(dosTimeToFileTime(0), 0u);           // month 0
  EXPECT_EQ(dosTimeToFileTime(0x50B1BFFF), 0u);  // 2020-05-17, hour 23, minute 63
}

// Sizes and offsets only in zip64 blocks, as archives past 4 GiB carry them.
TEST_F(Archive, Zip64SizesReadWhole) {
  const std::string big = testutil::readFile(fixture("big.bin"));
  ArchiveReader* r = open("zip64.zip");
  EXPECT_EQ(item(r, 0).uncompressedSize, big.size());
  EXPECT_EQ(extractArchiveItem(r, 0, "big.bin"), kArchiveOk);
  EXPECT_EQ(testutil::readFile(dir.file("big.bin")), big);
  EXPECT_TRUE(archiveIsIntact(fixture("zip64.zip")));
  EXPECT_EQ(item(open("zip64_huge.zip"), 0).uncompressedSize, 6ull << 30);
  EXPECT_FALSE(archiveIsIntact(fixture("zip64_bad_crc.zip")));
}

TEST_F(Archive, DamagedMembersLeaveTheInstalledFileAlone) {
  struct Case {
    const char* archive;
    uint32_t want;
  } cases[] = {
      {"bad_deflate.zip", kArchiveDataError},  // inflating fails
      {"bad_crc.zip", kArchiveDataError},      // reads to the end, CRC-32 differs
      {"short.zip", kArchiveDataError},        // data ends before the announced size
      {"bad_header.zip", kArchiveHeaderMismatch},
      {"encrypted.zip", kArchiveEncrypted},
      {"zip64_bad_crc.zip", kArchiveDataError},
      {"zip64_huge.zip", kArchiveDataError},   // holds far less than it claims
  };
  std::string target = dir.file("installed.bin");
  for (const Case& c : cases) {
    testutil::writeFile(target, "installed");
    ArchiveReader* r = open(c.archive);
    EXPECT_EQ(extractArchiveItem(r, 0, "installed.bin"), c.want) << c.archive;
    EXPECT_EQ(testutil::readFile(target), "installed") << c.archive;
    EXPECT_EQ(extractArchiveItem(r, 0, "new.bin"), c.want) << c.archive;
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"installed.bin"}) << c.archive;
  }
  ArchiveReader* r = open("bad_header.zip");
  ArchiveItem it;
  EXPECT_EQ(getArchiveItem(r, 0, it), kArchiveHeaderMismatch);
}

}  // namespace

}  // namespace tvl
