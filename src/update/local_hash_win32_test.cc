#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"
#include "update/local_hash.h"

namespace tvl {


namespace {

// Starts "tvltool hold <path>" and waits until it has the file open; shared:
// as a running program's file is held (other readers and renames allowed).
class Holder {
 public:
  explicit Holder(const std::string& path, bool shared = false) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd_, &writeEnd, &sa, 0)) return;
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    std::string cmd = std::string("tvltool hold \"") + path + "\" 60000" + (shared ? " shared" : "");
    bool started = CreateProcessA(TVL_TOOL, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi_);
    CloseHandle(writeEnd);
    if (!started) return;
    char buf[16] = {};
    DWORD n = 0;
    held_ = ReadFile(readEnd_, buf, 4, &n, nullptr) && n == 4 && std::string(buf, 4) == "HELD";
  }
  ~Holder() {
    if (pi_.hProcess) {
      TerminateProcess(pi_.hProcess, 0);
      WaitForSingleObject(pi_.hProcess, 10000);
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
    if (readEnd_) CloseHandle(readEnd_);
  }
  bool held() const { return held_; }

 private:
  HANDLE readEnd_ = nullptr;
  PROCESS_INFORMATION pi_ = {};
  bool held_ = false;
};

// Another process holds the file: the check leaves it alone and does not
// count it, unless it is the launcher's own executable and merely read (it is
// only ever swapped by renames).
TEST(LocalHashWin32, FileHeldByAnotherProcessIsLeftAlone) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater updater(testutil::settings(), nullptr, "TervalisOnline2D.exe");
  ASSERT_TRUE(acquireCryptProvider(updater));
  std::filesystem::create_directories(dir.file("data"));
  struct Case {
    const char* directory;
    const char* name;
    bool shared;   // how the other process holds it
    bool checked;  // hashed (and found different) rather than left alone
  } cases[] = {
      {"", "game.pak", false, false},
      {"", "game.pak", true, false},
      {"", "TervalisOnline2D.exe", true, true},
      {"", "tervalisonline2d.EXE", true, true},
      {"", "TervalisOnline2D.exe", false, false},
      {"data/", "TervalisOnline2D.exe", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.directory) + c.name + (c.shared ? " held shared" : " held exclusively"));
    std::string file = dir.file(std::string(c.directory) + c.name);
    testutil::writeFile(file, "hello");
    FileListEntry e;
    e.directory = c.directory;
    e.name = c.name;
    e.digest = "00000000000000000000000000000000";
    {
      Holder holder(file, c.shared);
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
