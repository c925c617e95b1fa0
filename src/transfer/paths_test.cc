#include "transfer/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "test_util.h"

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

namespace {

std::vector<std::string> treeOf(const std::string& root) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(root))
    out.push_back(std::filesystem::relative(e.path(), root).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(Paths, CreateParentDirectories) {
  struct Case {
    const char* path;
    std::vector<std::string> want;
  } cases[] = {
      {"data/textures/x.png", {"data", "data/textures"}},
      {"data\\textures\\x.png", {"data", "data/textures"}},
      {"x.png", {}},
      {"a//b/c", {"a"}},
      {"a/b/", {"a", "a/b"}},
  };
  for (const Case& c : cases) {
    testutil::TempDir dir;
    testutil::ScopedCurrentDir cwd(dir.path());
    createParentDirectories(c.path);
    EXPECT_EQ(treeOf(dir.path()), c.want) << c.path;
  }
}

TEST(Paths, SafeRelativePath) {
  struct Case {
    std::string path;
    bool safe;
  } cases[] = {
      {"files.txt", true},
      {"data/textures/a.png", true},
      {"data\\a.pak", true},
      {"./a", true},
      {"a/../b", true},
      {"a/b/../../c", true},
      {"..a", true},
      {"a..b/c", true},
      {"", false},
      {"..", false},
      {"../x", false},
      {"..\\x", false},
      {"a/../../x", false},
      {"a\\..\\..\\x", false},
      {"/abs", false},
      {"\\abs", false},
      {"\\\\server\\share\\x", false},
      {"C:\\x", false},
      {"c:x", false},
      {"a/b:stream", false},
      {"a/.../x", false},
      {". ./x", false},
      {".. /x", false},
      {std::string("a/../..\0b", 9), false},  // the system would see a/../..
  };
  for (const Case& c : cases) EXPECT_EQ(isSafeRelativePath(c.path), c.safe) << c.path;
}
