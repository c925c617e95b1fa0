#include "platform/restart.h"

#include <windows.h>

#include "platform/process.h"

namespace platform {
namespace {
const char kMark[] = "TERVALIS_LAUNCHER_RESTARTED";
}

// Fixed whatever the file is called: the update servers list it so.
std::string launcherFileName() { return "TervalisOnline2D.exe"; }

bool startWithOwnCommandLine(const std::string& program) { return startProcess(program, GetCommandLineA()); }

void makeExecutable(const std::string&) {}

void setRestartMark() { SetEnvironmentVariableA(kMark, "1"); }

bool takeRestartMark() {
  char value[8];
  DWORD n = GetEnvironmentVariableA(kMark, value, sizeof value);
  if (n == 0) return false;
  SetEnvironmentVariableA(kMark, nullptr);
  return true;
}

}  // namespace platform
