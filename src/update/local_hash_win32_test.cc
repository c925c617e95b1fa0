#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"
#include "update/local_hash.h"

namespace {

// Starts "tvltool hold <path>" and waits until it has the file open.
class Holder {
 public:
  explicit Holder(const std::string& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd_, &writeEnd, &sa, 0)) return;
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    std::string cmd = std::string("tvltool hold \"") + path + "\" 60000";
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

TEST(LocalHashWin32, FileHeldByAnotherProcessIsLeftAlone) {
  testutil::TempDir dir;
  testutil::ScopedCurrentDir cwd(dir.path());
  Updater updater(testutil::settings(), nullptr);
  ASSERT_TRUE(acquireCryptProvider(updater));
  testutil::writeFile(dir.file("held.bin"), "hello");
  FileListEntry e;
  e.name = "held.bin";
  e.digest = "00000000000000000000000000000000";
  {
    Holder holder(dir.file("held.bin"));
    ASSERT_TRUE(holder.held());
    EXPECT_FALSE(checkLocalFile(updater, e));
    EXPECT_EQ(e.localDigest, "");
  }
  EXPECT_TRUE(checkLocalFile(updater, e));
  EXPECT_EQ(e.localDigest, "5D41402ABC4B2A76B9719D911017C592");
  releaseCryptProvider(updater);
}

}  // namespace
