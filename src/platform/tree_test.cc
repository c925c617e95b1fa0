#include "platform/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "test_util.h"

namespace platform {
namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::vector<ListedFile> sortedList(const std::string& root, std::string* error) {
  std::vector<ListedFile> files;
  if (!listFiles(root, &files, error)) return {};
  std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
  return files;
}

TEST(ListFiles, EveryFileBelowTheRootByItsRelativeName) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("sub/deeper"));
  std::filesystem::create_directories(dir.file("empty"));
  writeFile(dir.file("a.txt"), "1");
  writeFile(dir.file("sub/b.bin"), "22");
  writeFile(dir.file("sub/deeper/c"), "333");
  std::string error;
  std::vector<ListedFile> files = sortedList(dir.path() + "/", &error);
  ASSERT_EQ(files.size(), 3u) << error;
  const char* names[] = {"a.txt", "sub/b.bin", "sub/deeper/c"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(files[i].name, names[i]);
    EXPECT_EQ(files[i].size, i + 1);
    EXPECT_EQ(readFile(files[i].path).size(), i + 1) << files[i].path;
  }
  EXPECT_TRUE(sortedList(dir.file("missing"), &error).empty());
  EXPECT_NE(error.find("missing is not a directory"), std::string::npos) << error;
}

#ifndef _WIN32
TEST(ListFiles, LinksAreFollowedButNotInALoopAndSpecialFilesAreRefused) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("real"));
  writeFile(dir.file("real/x"), "x");
  writeFile(dir.file("back\\slash"), "kept as a letter");
  ASSERT_EQ(symlink("real", dir.file("link").c_str()), 0);
  std::string error;
  std::vector<ListedFile> files = sortedList(dir.path(), &error);
  ASSERT_EQ(files.size(), 3u) << error;
  EXPECT_EQ(files[0].name, "back\\slash");
  EXPECT_EQ(readFile(files[0].path), "kept as a letter");
  EXPECT_EQ(files[1].name, "link/x");
  EXPECT_EQ(files[2].name, "real/x");

  ASSERT_EQ(symlink("..", dir.file("real/up").c_str()), 0);
  EXPECT_TRUE(sortedList(dir.path(), &error).empty());
  EXPECT_NE(error.find("loop"), std::string::npos) << error;
  unlink(dir.file("real/up").c_str());

  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(sortedList(dir.path(), &error).empty());
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
}
#endif

TEST(LockFile, OneHolderAtATime) {
  TempDir dir;
  std::string path = dir.file(".lock");
  bool busy = true;
  std::string error;
  {
    LockFile first;
    ASSERT_TRUE(first.acquire(path, &busy, &error)) << error;
    EXPECT_FALSE(busy);
    LockFile second;
    EXPECT_FALSE(second.acquire(path, &busy, &error));
    EXPECT_TRUE(busy) << error;
  }
  EXPECT_FALSE(testutil::exists(path)) << "left behind by its holder";
  LockFile again;
  EXPECT_TRUE(again.acquire(path, &busy, &error)) << error;

  LockFile nowhere;
  EXPECT_FALSE(nowhere.acquire(dir.file("missing/.lock"), &busy, &error));
  EXPECT_FALSE(busy);
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

}  // namespace
}  // namespace platform
