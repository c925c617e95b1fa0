#include "publish/fs.h"

#include <gtest/gtest.h>

#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace publish {
namespace {

TEST(PrivateFile, CreatedOnceForItsOwnerOnly) {
  testutil::TempDir dir;
  std::string path = dir.file("secret.key"), error;
  ASSERT_TRUE(createPrivateFile(path, "seed\n", &error)) << error;
  EXPECT_EQ(testutil::readFile(path), "seed\n");
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  EXPECT_FALSE(createPrivateFile(path, "other\n", &error));
  EXPECT_NE(error.find("exists already"), std::string::npos) << error;
  EXPECT_EQ(testutil::readFile(path), "seed\n");
  EXPECT_FALSE(createPrivateFile(dir.file("no/such/dir/key"), "x", &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace publish
