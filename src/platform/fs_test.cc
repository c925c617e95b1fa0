#include "platform/fs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/md5.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {
namespace {

using testutil::exists;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

struct CountingTraits {
  using Type = int;
  static int none() { return 0; }
  static bool close(int h) {
    closed.push_back(h);
    return h != 13;  // 13 fails to close
  }
  static std::vector<int> closed;
};
std::vector<int> CountingTraits::closed;

TEST(ScopedHandle, ClosesEachHandleOnceWhicheverWayItLeaves) {
  using Handle = ScopedHandle<CountingTraits>;
  CountingTraits::closed.clear();
  {
    Handle a(1), b(2), none;
    Handle c = std::move(a);  // 1 now in c
    EXPECT_FALSE(a.valid());
    b = std::move(c);  // closes 2, holds 1
    EXPECT_EQ(CountingTraits::closed, std::vector<int>({2}));
    none = Handle(3);
    EXPECT_EQ(none.release(), 3);
    EXPECT_TRUE(none.reset(13));
    EXPECT_FALSE(none.reset());  // 13 failed to close
    EXPECT_TRUE(none.reset());   // nothing held
  }
  EXPECT_EQ(CountingTraits::closed, std::vector<int>({2, 13, 1}));
}

TEST(MappedView, OutlivesItsFileAndMoves) {
  TempDir dir;
  std::string path = dir.file("data.bin");
  writeFile(path, "hello");
  File file = File::openExclusiveRead(path);
  File owner = std::move(file);
  EXPECT_FALSE(file.valid());
  ASSERT_TRUE(owner.valid());
  MappedView view = MappedView::map(owner, 5);
  ASSERT_TRUE(view.valid());
  EXPECT_TRUE(owner.close());
  EXPECT_FALSE(owner.valid());

  MappedView kept;
  kept = std::move(view);
  EXPECT_FALSE(view.valid());
  Md5Provider md5;
  ASSERT_TRUE(md5.acquire());
  EXPECT_EQ(md5HexOf(md5, kept.data(), kept.size()), "5D41402ABC4B2A76B9719D911017C592");
#ifndef _WIN32
  // Only POSIX lets a test watch the view end: the mapping keeps the file's
  // lock until it goes.
  EXPECT_FALSE(File::openExclusiveRead(path).valid());
  kept = MappedView();
  EXPECT_TRUE(File::openExclusiveRead(path).valid());
#endif
}

// Offsets past 4 GiB (the high half of the offset matters), and the end.
TEST(File, ReadsAtAnyOffset) {
  TempDir dir;
  std::string path = dir.file("sparse.bin");
  const uint64_t far = (uint64_t{5} << 30) + 3;
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("head", f);
    ASSERT_TRUE(seekFile(f, far));
    std::fputs("tail", f);
    ASSERT_EQ(std::fclose(f), 0);
  }
  File file = File::openSharedRead(path);
  ASSERT_TRUE(file.valid());
  struct Case {
    uint64_t at;
    size_t count;
    std::string want;
  } cases[] = {{1, 3, "ead"}, {far, 8, "tail"}, {far - 2, 4, std::string(2, '\0') + "ta"}, {far + 4, 4, ""}};
  for (const Case& c : cases) {
    char buf[8] = {};
    size_t got = 99;
    EXPECT_TRUE(file.readAt(c.at, buf, c.count, &got)) << c.at;
    EXPECT_EQ(std::string(buf, got), c.want) << c.at;
  }
}

TEST(MappedOutputFile, WritesReachTheFileOfExactlyThatSize) {
  TempDir dir;
  std::string path = dir.file("out.bin");
  writeFile(path, std::string(10000, 'x'));  // a longer file there is replaced
  std::string error;
  MappedOutputFile out = MappedOutputFile::create(path, 6000, &error);
  ASSERT_TRUE(out.valid()) << error;
  ASSERT_EQ(out.size(), 6000u);
  EXPECT_EQ(out.data()[5999], 0);
  for (size_t i = 0; i < out.size(); ++i) out.data()[i] = static_cast<uint8_t>('a' + i % 26);
  MappedOutputFile moved = std::move(out);
  EXPECT_FALSE(out.valid());
  EXPECT_TRUE(moved.close());
  EXPECT_FALSE(moved.valid());
  // Closed means free to move, as a finished staging file is.
  ASSERT_TRUE(replaceFile(path, dir.file("done.bin"), &error)) << error;
  std::string bytes = readFile(dir.file("done.bin"));
  ASSERT_EQ(bytes.size(), 6000u);
  EXPECT_EQ(bytes.substr(0, 3), "abc");
  EXPECT_EQ(bytes[5999], static_cast<char>('a' + 5999 % 26));
}

TEST(MappedOutputFile, FailsWithAMessageAndLeavesNothing) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string path;
    uint64_t size;
  } cases[] = {
      {"no such folder", dir.file("missing/out.bin"), 100},
      {"empty", dir.file("empty.bin"), 0},
      {"more than any disk holds", dir.file("huge.bin"), uint64_t(1) << 55},
  };
  for (const Case& c : cases) {
    std::string error;
    MappedOutputFile out = MappedOutputFile::create(c.path, c.size, &error);
    EXPECT_FALSE(out.valid()) << c.what;
    EXPECT_NE(error.find(c.path), std::string::npos) << c.what << ": " << error;
    EXPECT_FALSE(exists(c.path)) << c.what;
  }
}

TEST(RemoveFile, GoneEvenWhenReadOnlyHiddenOrSystem) {
  TempDir dir;
  const uint32_t cases[] = {0, kAttrReadOnly, kAttrReadOnly | kAttrHidden | kAttrSystem};
  for (uint32_t attributes : cases) {
    std::string path = dir.file("f");
    writeFile(path, "x");
    ASSERT_TRUE(setAttributes(path, attributes));
    EXPECT_TRUE(removeFile(path)) << attributes;
    EXPECT_FALSE(exists(path)) << attributes;
  }
  std::filesystem::create_directory(dir.file("sub"));
  writeFile(dir.file("sub/x"), "x");
  EXPECT_TRUE(removeFile(dir.path() + "\\sub\\x"));  // the launcher's separator
  EXPECT_FALSE(exists(dir.file("sub/x")));
  EXPECT_TRUE(removeFile(dir.file("missing")));
  EXPECT_TRUE(removeFile(dir.file("missing/deeper")));

  std::string error;
  EXPECT_FALSE(removeFile(dir.file("sub"), &error));
  EXPECT_NE(error.find(dir.file("sub")), std::string::npos) << error;
}

TEST(Directories, MadeWithParentsUnlessAFileIsInTheWay) {
  TempDir dir;
  std::string error;
  std::string deep = dir.file("a") + "/b/c";
  ASSERT_TRUE(makeDirectories(deep, &error)) << error;
  EXPECT_EQ(pathInfo(deep).kind, PathKind::Directory);
  EXPECT_TRUE(makeDirectories(deep, &error)) << error;
  writeFile(dir.file("f"), "x");
  EXPECT_FALSE(makeDirectories(dir.file("f") + "/sub", &error));
  EXPECT_NE(error.find("in the way"), std::string::npos) << error;

  EXPECT_FALSE(removeEmptyDirectory(dir.file("a")));
  EXPECT_TRUE(removeEmptyDirectory(deep));
  EXPECT_FALSE(exists(deep));
}

TEST(ReplaceFile, TakesThePlaceOfTheOldFileAlsoDurably) {
  for (auto move : {replaceFile, moveDurably}) {
    TempDir dir;
    std::string error;
    writeFile(dir.file("new"), "new");
    writeFile(dir.file("old"), "old");
    ASSERT_TRUE(flushFile(dir.file("new"), &error)) << error;
    ASSERT_TRUE(move(dir.file("new"), dir.file("old"), &error)) << error;
    EXPECT_EQ(readFile(dir.file("old")), "new");
    EXPECT_FALSE(exists(dir.file("new")));
    EXPECT_FALSE(move(dir.file("new"), dir.file("old"), &error));
    EXPECT_NE(error.find(dir.file("new")), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(flushFile(dir.file("new"), &error));
    EXPECT_NE(error.find(dir.file("new")), std::string::npos) << error;
  }
}

TEST(PathInfo, KindAndSizeAndAbsoluteForm) {
  TempDir dir;
  writeFile(dir.file("five"), "12345");
  PathInfo file = pathInfo(dir.file("five"));
  EXPECT_EQ(file.kind, PathKind::File);
  EXPECT_EQ(file.size, 5u);
  EXPECT_NE(file.mtimeNs, 0);
  EXPECT_EQ(pathInfo(dir.path()).kind, PathKind::Directory);
  EXPECT_EQ(pathInfo(dir.file("missing")).kind, PathKind::Missing);

  // What does not exist yet is still made absolute, "." and ".." resolved.
  std::string base = absolutePath(dir.path());
  EXPECT_EQ(absolutePath(dir.file("five") + "/../new/./x/"), base + "/new/x");
  EXPECT_EQ(base.find('\\'), std::string::npos) << base;
}

TEST(FileIdentity, OneDirectoryListingAgreesWithEachFile) {
  TempDir dir;
  writeFile(dir.file("a"), "12345");
  writeFile(dir.file("b c"), "");
  ASSERT_TRUE(makeDirectories(dir.file("sub"), nullptr));
  std::map<std::string, FileIdentity> listed;
  ASSERT_TRUE(listIdentities(dir.path(), &listed));
  EXPECT_EQ(listed.size(), 2u);  // no directory
  for (const char* name : {"a", "b c"}) {
    FileIdentity one;
    ASSERT_TRUE(fileIdentity(dir.file(name), &one));
    EXPECT_TRUE(listed[name] == one) << name;
  }
  EXPECT_EQ(listed["a"].size, 5u);
  EXPECT_NE(listed["a"].index, listed["b c"].index);
  FileIdentity none;
  EXPECT_FALSE(fileIdentity(dir.file("sub"), &none));
  EXPECT_FALSE(fileIdentity(dir.file("missing"), &none));
  EXPECT_FALSE(listIdentities(dir.file("missing"), &listed));
}

TEST(PrivateFile, CreatedOnceForItsOwnerOnly) {
  TempDir dir;
  std::string path = dir.file("secret.key"), error;
  ASSERT_TRUE(createPrivateFile(path, "seed\n", &error)) << error;
  EXPECT_EQ(readFile(path), "seed\n");
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  EXPECT_FALSE(createPrivateFile(path, "other\n", &error));
  EXPECT_NE(error.find("exists already"), std::string::npos) << error;
  EXPECT_EQ(readFile(path), "seed\n");
  EXPECT_FALSE(createPrivateFile(dir.file("no/such/dir/key"), "x", &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace platform
