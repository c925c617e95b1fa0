#include "transfer/updater.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "platform/fs.h"
#include "test_util.h"
#include "transfer/paths.h"

namespace {

namespace fs = std::filesystem;

TEST(Updater, ConstructionPreparesTheStagingDirectory) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  fs::create_directory(dir.file("data"));
  fs::create_directories(dir.file("data/update"));
  const char* leftovers[] = {"data/update/update.tmp", "TervalisOnline2D.exe.new", "TervalisOnline2D.exe.old"};
  for (const char* f : leftovers) {
    testutil::writeFile(dir.file(f), "left over");
    // Read-only and hidden leftovers must go as well.
    platform::setAttributes(dir.file(f), platform::kAttrReadOnly | platform::kAttrHidden);
  }
  testutil::writeFile(dir.file("TervalisOnline2D.exe"), "launcher");

  Updater u(reinterpret_cast<WindowHandle>(0x1234), nullptr);
  EXPECT_EQ(baseDir, ".\\");
  EXPECT_EQ(u.tempFile, ".\\data\\update\\update.tmp");
  EXPECT_EQ(u.window, reinterpret_cast<WindowHandle>(0x1234));
  EXPECT_EQ(&u.updateSource, &connectionSettings.update);
  EXPECT_EQ(&u.iconsSource, &connectionSettings.icons);
  EXPECT_EQ(&u.gameSettings, &connectionSettings.game);
  EXPECT_TRUE(u.entries.empty());
  EXPECT_EQ(u.bytesDone, 0);
  EXPECT_EQ(u.bytesTotal, 0);
  for (const char* f : leftovers) EXPECT_FALSE(testutil::exists(dir.file(f))) << f;
  EXPECT_TRUE(testutil::exists(dir.file("TervalisOnline2D.exe")));
}

TEST(Updater, WithoutDataDirectoryOnlyTheLastLevelIsTried) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater u(nullptr, nullptr);
  EXPECT_FALSE(testutil::exists(dir.file("data")));
  fs::create_directory(dir.file("data"));
  Updater again(nullptr, nullptr);
  EXPECT_TRUE(fs::is_directory(dir.file("data/update")));
}

TEST(Updater, ProgressCounters) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater u(nullptr, nullptr);
  u.setCurrentFile("files.txt");
  u.addBytesDone(100);  // lists do not count while the total is 0
  EXPECT_EQ(u.progress().bytesDone, 0);
  u.setBytesTotal(INT32_MAX);
  u.addBytesDone(INT32_MAX - 5);
  u.addBytesDone(100);
  ProgressSnapshot p = u.progress();
  EXPECT_EQ(p.currentFile, "files.txt");
  EXPECT_EQ(p.bytesDone, INT32_MAX);
  EXPECT_EQ(p.bytesTotal, INT32_MAX);
}

}  // namespace
