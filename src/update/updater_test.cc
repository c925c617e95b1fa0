#include "update/updater.h"

#include <gtest/gtest.h>

#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/tree.h"
#include "../transfer/download_test_util.h"
#include "test_util.h"
#include "transfer/paths.h"

namespace tvl {


namespace {

namespace fs = std::filesystem;

// Construction touches nothing in staging; a run that holds it clears what
// earlier runs left, and a second one waits, touching nothing, until the
// holder lets go.
TEST(Updater, StagingIsClearedOnlyByTheRunThatHoldsIt) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  fs::create_directories(dir.file("data/update"));
  const char* leftovers[] = {"data/update/update.tmp", "TervalisOnline2D.exe.new", "TervalisOnline2D.exe.old"};
  auto leaveLeftovers = [&] {
    for (const char* f : leftovers) {
      testutil::writeFile(dir.file(f), "left over");
      // Read-only and hidden leftovers must go as well.
      platform::setAttributes(dir.file(f), platform::kAttrReadOnly | platform::kAttrHidden);
    }
  };
  leaveLeftovers();
  testutil::writeFile(dir.file("TervalisOnline2D.exe"), "launcher");

  WaitWatch watch;
  Updater u(testutil::settings(), &watch);
  EXPECT_EQ(baseDir, ".\\");
  EXPECT_EQ(u.tempFile, ".\\data\\update\\update.tmp");
  EXPECT_EQ(&u.updateSource, &testutil::settings().update);
  EXPECT_EQ(&u.iconsSource, &testutil::settings().icons);
  EXPECT_EQ(&u.gameSettings, &testutil::settings().game);
  EXPECT_TRUE(u.entries.empty());
  EXPECT_EQ(u.progress.snapshot().bytesTotal, 0);
  for (const char* f : leftovers) EXPECT_TRUE(testutil::exists(dir.file(f))) << f;

  std::thread second;
  {
    platform::LockFile first;
    ASSERT_TRUE(holdStaging(u, &first));
    for (const char* f : leftovers) EXPECT_FALSE(testutil::exists(dir.file(f))) << f;
    EXPECT_TRUE(testutil::exists(dir.file("TervalisOnline2D.exe")));

    leaveLeftovers();  // the holder's own files now
    second = std::thread([&] {
      platform::LockFile lock;
      EXPECT_TRUE(holdStaging(u, &lock));
      std::lock_guard<std::mutex> hold(watch.lock);
      watch.done = true;
      watch.changed.notify_all();
    });
    {
      std::unique_lock<std::mutex> hold(watch.lock);
      watch.changed.wait(hold, [&] { return watch.waiting || watch.done; });
      EXPECT_FALSE(watch.done) << "the second run went ahead while the first held the staging";
    }
    for (const char* f : leftovers) EXPECT_TRUE(testutil::exists(dir.file(f))) << f;
  }  // the first run ends
  second.join();
  for (const char* f : leftovers) EXPECT_FALSE(testutil::exists(dir.file(f))) << f;
}

TEST(Updater, WithoutDataDirectoryOnlyTheLastLevelIsTried) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater u(testutil::settings(), nullptr);
  EXPECT_FALSE(testutil::exists(dir.file("data")));
  fs::create_directory(dir.file("data"));
  Updater again(testutil::settings(), nullptr);
  EXPECT_TRUE(fs::is_directory(dir.file("data/update")));
}

TEST(Progress, CountersPassFourGigabytesAndWaitForTheTotal) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  Progress p;
  p.setCurrentFile("files.txt");
  p.addBytesDone(100);  // lists do not count while the total is 0
  EXPECT_EQ(p.snapshot().bytesDone, 0);
  p.setBytesTotal(6 * kGiB);
  p.addBytesDone(2 * kGiB - 1);
  p.addBytesDone(1);
  EXPECT_EQ(p.snapshot().bytesDone, 2 * kGiB);
  p.addBytesDone(4 * kGiB);
  ProgressSnapshot s = p.snapshot();
  EXPECT_EQ(s.currentFile, "files.txt");
  EXPECT_EQ(s.bytesDone, 6 * kGiB);
  EXPECT_EQ(s.bytesTotal, 6 * kGiB);
  p.addBytesDone(INT64_MAX);  // saturates instead of wrapping
  EXPECT_EQ(p.snapshot().bytesDone, INT64_MAX);
  p.addBytesDone(-INT64_MAX);
  EXPECT_EQ(p.snapshot().bytesDone, 0);
}

}  // namespace

}  // namespace tvl
