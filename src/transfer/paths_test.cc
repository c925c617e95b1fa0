#include "transfer/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "test_util.h"

namespace tvl {


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

}  // namespace tvl
