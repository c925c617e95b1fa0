#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_util.h"
#include "update/local_hash.h"

namespace {

// Another process holds the file (POSIX: its exclusive lock): the check
// leaves it alone and does not count it.
TEST(LocalHashPosix, FileHeldByAnotherProcessIsLeftAlone) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater updater(testutil::settings(), nullptr);
  ASSERT_TRUE(acquireCryptProvider(updater));
  testutil::writeFile(dir.file("held.bin"), "hello");

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = open("held.bin", O_RDONLY);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
    if (write(ready[1], "H", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);

  FileListEntry e;
  e.name = "held.bin";
  e.digest = "00000000000000000000000000000000";
  EXPECT_FALSE(checkLocalFile(updater, e));
  EXPECT_EQ(e.localDigest, "");

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(checkLocalFile(updater, e));  // free again: hashed and found different
  EXPECT_EQ(e.localDigest, "5D41402ABC4B2A76B9719D911017C592");
  releaseCryptProvider(updater);
}

}  // namespace
