#include "splash/skin.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "test_util.h"

namespace tvl {


namespace {

std::string data(const char* name) { return testutil::sourcePath(std::string("src/splash/testdata/") + name); }

// Runs with the working directory set to dir, as start-up leaves it.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) {
    char buf[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, buf);
    old_ = buf;
    SetCurrentDirectoryA(dir.c_str());
  }
  ~InDirectory() { SetCurrentDirectoryA(old_.c_str()); }

 private:
  std::string old_;
};

void copy(const char* from, const std::string& to) { ASSERT_TRUE(CopyFileA(data(from).c_str(), to.c_str(), FALSE)); }

}  // namespace

TEST(SkinList, ByteOrderOnlyDecodableFilesNoSubdirectories) {
  testutil::TempDir install;
  std::string dir = install.path() + "\\data\\updater";
  ASSERT_TRUE(CreateDirectoryA((install.path() + "\\data").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  copy("rgb24.png", dir + "\\a.png");
  copy("rgb24.bmp", dir + "\\b.bmp");
  copy("pal.gif", dir + "\\Z.png");     // named by its contents' decoder, not its extension
  copy("rgb24.png", dir + "\\noext");
  copy("rgba.png", dir + "\\hidden.png");
  SetFileAttributesA((dir + "\\hidden.png").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  testutil::writeFile(dir + "\\notes.txt", "hello");
  copy("text.png", dir + "\\x.png");
  testutil::writeFile(dir + "\\empty.png", "");
  ASSERT_TRUE(CreateDirectoryA((dir + "\\sub").c_str(), nullptr));
  copy("rgb24.png", dir + "\\sub\\c.png");
  ASSERT_TRUE(CreateDirectoryA((dir + "\\d.png").c_str(), nullptr));  // a directory named like an image

  InDirectory here(install.path());
  SkinPathSet scanned;
  scanDirectory(scanned, "data/updater", "*.*");
  std::vector<std::string> files(scanned.begin(), scanned.end());
  std::vector<std::string> wantFiles = {"data/updater\\Z.png",      "data/updater\\a.png", "data/updater\\b.bmp",
                                        "data/updater\\empty.png",  "data/updater\\hidden.png",
                                        "data/updater\\noext",      "data/updater\\notes.txt",
                                        "data/updater\\x.png"};
  EXPECT_EQ(files, wantFiles);

  SkinList skins = loadSkinList();
  SkinList want = {"data/updater\\Z.png", "data/updater\\a.png", "data/updater\\b.bmp", "data/updater\\hidden.png",
                   "data/updater\\noext"};
  EXPECT_EQ(skins, want);
  SetFileAttributesA((dir + "\\hidden.png").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(SkinList, DotMeansNoPrefixMissingDirectoryMeansNothing) {
  testutil::TempDir install;
  copy("rgb24.png", install.path() + "\\one.png");
  InDirectory here(install.path());
  SkinPathSet scanned;
  scanDirectory(scanned, ".", "*.png");
  EXPECT_EQ(scanned, SkinPathSet({"one.png"}));
  EXPECT_TRUE(loadSkinList().empty());  // no data/updater at all
}

TEST(SkinChoice, EmptyListLeavesSkinPathEmptySingleIsChosen) {
  skinPath.clear();
  chooseSkin({});
  EXPECT_EQ(skinPath, "");
  chooseSkin({"data/updater\\only.png"});
  EXPECT_EQ(skinPath, "data/updater\\only.png");
  skinPath.clear();
}

}  // namespace tvl
