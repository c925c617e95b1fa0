#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"
#include "update/local_hash.h"

namespace tvl {


namespace {

// A child process that holds path locked (LOCK_EX: as a launcher hashing a
// game file; LOCK_SH: as one reading the launcher's own file) until the
// holder goes.
class Holder {
 public:
  Holder(const std::string& path, int lock) {
    int ready[2];
    if (pipe(ready) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      int fd = open(path.c_str(), O_RDONLY);
      if (fd < 0 || flock(fd, lock) != 0) _exit(1);
      if (write(ready[1], "H", 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char c = 0;
    held_ = child_ > 0 && read(ready[0], &c, 1) == 1;
    close(ready[0]);
  }
  ~Holder() {
    if (child_ <= 0) return;
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  bool held() const { return held_; }

 private:
  pid_t child_ = -1;
  bool held_ = false;
};

// Another process holds the file: the check leaves it alone and does not
// count it, unless it is the launcher's own executable and merely read.
TEST(LocalHashPosix, FileHeldByAnotherProcessIsLeftAlone) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater updater(testutil::settings(), nullptr, "TervalisOnline2D");
  ASSERT_TRUE(acquireCryptProvider(updater));
  std::filesystem::create_directories(dir.file("data"));
  struct Case {
    const char* directory;
    const char* name;
    int lock;      // the other process's
    bool checked;  // hashed (and found different) rather than left alone
  } cases[] = {
      {"", "held.bin", LOCK_EX, false},
      {"", "held.bin", LOCK_SH, false},
      {"", "TervalisOnline2D", LOCK_SH, true},
      {"", "TervalisOnline2D", LOCK_EX, false},
      {"data/", "TervalisOnline2D", LOCK_SH, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.directory) + c.name + (c.lock == LOCK_SH ? " shared" : " exclusive"));
    std::string file = dir.file(std::string(c.directory) + c.name);
    testutil::writeFile(file, "hello");
    FileListEntry e;
    e.directory = c.directory;
    e.name = c.name;
    e.digest = "00000000000000000000000000000000";
    {
      Holder holder(file, c.lock);
      ASSERT_TRUE(holder.held());
      EXPECT_EQ(checkLocalFile(updater, e), c.checked);
      EXPECT_EQ(e.localDigest, c.checked ? "5D41402ABC4B2A76B9719D911017C592" : "");
    }
    EXPECT_TRUE(checkLocalFile(updater, e));  // free again: hashed and found different
    EXPECT_EQ(e.localDigest, "5D41402ABC4B2A76B9719D911017C592");
  }
  releaseCryptProvider(updater);
}

}  // namespace

}  // namespace tvl
