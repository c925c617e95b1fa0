#include "update/local_hash.h"


#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "transfer/paths.h"

namespace tvl {


namespace {

const char kHelloMd5[] = "5D41402ABC4B2A76B9719D911017C592";  // "hello"

class LocalHash : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(acquireCryptProvider(updater)); }
  void TearDown() override { releaseCryptProvider(updater); }

  FileListEntry entry(const std::string& name, const std::string& digest, const std::string& directory = "") {
    FileListEntry e;
    e.name = name;
    e.digest = digest;
    e.directory = directory;
    return e;
  }

  // The program directory is top/install, so that top/ is "outside".
  std::string file(const std::string& name) const { return top.file("install") + "/" + name; }

  testutil::TempDir top;
  bool made = std::filesystem::create_directory(top.file("install"));
  testutil::ScopedCurrentDir cwd{top.file("install")};
  Updater updater{testutil::settings(), nullptr};
};

TEST_F(LocalHash, KnownDigests) {
  struct Case {
    std::string bytes;
    const char* want;
  } cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"The quick brown fox jumps over the lazy dog", "9E107D9D372BB6826BD81D3542A419D6"},
      {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(md5Hex(updater, reinterpret_cast<const uint8_t*>(c.bytes.data()), static_cast<uint32_t>(c.bytes.size())),
              c.want);
}

TEST_F(LocalHash, Outcomes) {
  testutil::writeFile(file("hello.txt"), "hello");
  testutil::writeFile(file("zero.txt"), "");
  testutil::writeFile(top.file("outside.txt"), "hello");  // exists, and differs from the list
  std::filesystem::create_directories(file("data/textures/icon.png"));  // a directory named like a file
  std::filesystem::create_directories(file("data/textures"));
  testutil::writeFile(file("data/textures/1.png"), "hello");
  struct Case {
    const char* what;
    FileListEntry e;
    bool fetch;
    const char* localDigest;
  } cases[] = {
      {"current", entry("hello.txt", kHelloMd5), false, kHelloMd5},
      {"different", entry("hello.txt", "00000000000000000000000000000000"), true, kHelloMd5},
      {"lower-case digest never matches", entry("hello.txt", "5d41402abc4b2a76b9719d911017c592"), true, kHelloMd5},
      {"digest with a trailing blank", entry("hello.txt", std::string(kHelloMd5) + " "), true, kHelloMd5},
      {"missing", entry("nothere.txt", kHelloMd5), true, ""},
      {"zero bytes", entry("zero.txt", "D41D8CD98F00B204E9800998ECF8427E"), true, ""},
      {"directory where a file is listed", entry("icon.png", kHelloMd5, "data/textures/"), false, ""},
      {"below the entry's directory", entry("1.png", kHelloMd5, "data/textures/"), false, kHelloMd5},
      {"up and back in again", entry("../../hello.txt", "0", "data/textures/"), true, kHelloMd5},
      {"outside the program directory", entry("../outside.txt", "0"), false, ""},
      {"outside through the entry's directory", entry("../../../outside.txt", "0", "data/textures/"), false, ""},
      {"absolute", entry(file("hello.txt"), "0"), false, ""},
  };
  for (Case& c : cases) {
    EXPECT_EQ(checkLocalFile(updater, c.e), c.fetch) << c.what;
    EXPECT_EQ(c.e.localDigest, c.localDigest) << c.what;
  }
}

TEST_F(LocalHash, ProviderFailureFetchesEveryReadableFile) {
  testutil::writeFile(file("hello.txt"), "hello");
  releaseCryptProvider(updater);
  EXPECT_FALSE(updater.cryptProvider.valid());
  EXPECT_EQ(md5Hex(updater, reinterpret_cast<const uint8_t*>("x"), 1), "");
  FileListEntry e = entry("hello.txt", kHelloMd5);
  EXPECT_TRUE(checkLocalFile(updater, e));
  EXPECT_EQ(e.localDigest, "");

  failCryptProviderForTesting(true);
  EXPECT_FALSE(acquireCryptProvider(updater));
  failCryptProviderForTesting(false);
  EXPECT_FALSE(updater.cryptProvider.valid());
}

TEST_F(LocalHash, FilesOf4GiBAndMoreAreHashedWhole) {
  // Sparse: takes no disk space. "hello" and 2^32 zero bytes; a hash of a
  // 32-bit prefix would give kHelloMd5.
  testutil::writeFile(file("huge.bin"), "hello");
  std::filesystem::resize_file(file("huge.bin"), (uint64_t{1} << 32) + 5);
  FileListEntry e = entry("huge.bin", kHelloMd5);
  EXPECT_TRUE(checkLocalFile(updater, e));
  EXPECT_EQ(e.localDigest, "92F359BB896EBACAFE02ED59A0B7B3DC");
}

}  // namespace

}  // namespace tvl
