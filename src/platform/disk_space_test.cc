#include "platform/disk_space.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace platform {

namespace {

// A folder, a file in it and a path not made yet below it all answer for
// the same volume, with a sane allocation unit.
TEST(DiskSpace, FoldersFilesAndMissingPathsNameTheirVolume) {
  testutil::TempDir dir;
  testutil::writeFile(dir.file("file.bin"), "x");
  DiskSpace folder;
  ASSERT_TRUE(diskSpace(dir.path(), &folder));
  EXPECT_FALSE(folder.volume.empty());
  EXPECT_GT(folder.freeBytes, 0u);
  EXPECT_GE(folder.unitBytes, 512u);
  for (const std::string& path : {dir.file("file.bin"), dir.file("not/yet/there.bin")}) {
    DiskSpace s;
    ASSERT_TRUE(diskSpace(path, &s)) << path;
    EXPECT_EQ(s.volume, folder.volume) << path;
    EXPECT_EQ(s.unitBytes, folder.unitBytes) << path;
    EXPECT_GT(s.freeBytes, 0u) << path;
  }
}

}  // namespace

}  // namespace platform
