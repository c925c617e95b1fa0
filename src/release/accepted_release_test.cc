#include "release/accepted_release.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/tree.h"
#include "test_util.h"

namespace release {
namespace {

using State = AcceptedRelease::State;

TEST(AcceptedRelease, WrittenOverAndReadBack) {
  testutil::TempDir dir;
  std::string path = dir.file(kAcceptedReleaseName);
  EXPECT_EQ(readAcceptedRelease(path).state, State::Missing);
  std::string error;
  for (uint64_t n : {uint64_t(1), uint64_t(1717000000), uint64_t(9223372036854775807ULL)}) {
    ASSERT_TRUE(writeAcceptedRelease(path, n, &error)) << error;
    AcceptedRelease r = readAcceptedRelease(path);
    EXPECT_EQ(r.state, State::Ok);
    EXPECT_EQ(r.number, n);
    EXPECT_FALSE(testutil::exists(path + ".tmp"));
  }
  EXPECT_FALSE(writeAcceptedRelease(path, 0, &error));
  EXPECT_FALSE(writeAcceptedRelease(dir.file("no/such/dir/release.txt"), 5, &error));
  EXPECT_NE(error.find("release.txt"), std::string::npos);
  EXPECT_EQ(readAcceptedRelease(path).number, 9223372036854775807ULL);  // untouched by the failures
}

TEST(AcceptedRelease, AnythingElseIsDamaged) {
  testutil::TempDir dir;
  std::string path = dir.file(kAcceptedReleaseName);
  for (const char* text : {"", "\n", "12", "012\n", "12\n\n", "12 \n", "-1\n", "0\n", "1x\n", "9223372036854775808\n",
                           "99999999999999999999\n"}) {
    testutil::writeFile(path, text);
    AcceptedRelease r = readAcceptedRelease(path);
    EXPECT_EQ(r.state, State::Damaged) << text;
    EXPECT_EQ(r.number, 0u);
  }
}

// Only "no such file" is no record: a file that cannot be read is not one
// that says 0.
TEST(AcceptedRelease, UnreadableIsNotMissing) {
  testutil::TempDir dir;
  std::string error;
  ASSERT_TRUE(writeAcceptedRelease(dir.file(kAcceptedReleaseName), 7, &error)) << error;
  // A directory in its place opens but cannot be read, on both systems.
  std::filesystem::create_directory(dir.file("dir.txt"));
  AcceptedRelease r = readAcceptedRelease(dir.file("dir.txt"));
  EXPECT_EQ(r.state, State::Unreadable);
  EXPECT_EQ(r.number, 0u);
  {
    // Held exclusively (a scanner, say); the holder deletes it when done.
    platform::LockFile holder;
    bool busy = false;
    ASSERT_TRUE(holder.acquire(dir.file(kAcceptedReleaseName), &busy, &error)) << error;
    EXPECT_EQ(readAcceptedRelease(dir.file(kAcceptedReleaseName)).state, State::Unreadable);
  }
  EXPECT_EQ(readAcceptedRelease(dir.file(kAcceptedReleaseName)).state, State::Missing);
}

}  // namespace
}  // namespace release
