#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/win32.h"

namespace platform {

std::string commandLine() { return GetCommandLineA(); }

std::string modulePath() {
  // Long install paths must not be cut: grow until the name fits.
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return std::string();
    buf.resize(buf.size() * 2);
  }
}

char pathSeparator() { return '\\'; }

bool setCurrentDirectory(const std::string& dir) { return SetCurrentDirectoryA(dir.c_str()) != 0; }

std::string currentDirectory() {
  DWORD n = GetCurrentDirectoryA(0, nullptr);
  if (n == 0) return std::string();
  std::string s(n, '\0');
  n = GetCurrentDirectoryA(n, &s[0]);
  s.resize(n);
  return s;
}

bool pathExists(const std::string& path) {
  WIN32_FIND_DATAA fd;
  return ScopedFind(FindFirstFileA(path.c_str(), &fd)).valid();
}

bool startProcess(const std::string& program, const std::string& commandLine) {
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  // CreateProcessA may write into the command line buffer.
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(program.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool stderrIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void exitNow(int code) { TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code)); ExitProcess(static_cast<UINT>(code)); }

// ExitProcess stops the other threads wherever they are and then unloads
// every library; under Wine a lock one of them held is never released and
// the unload waits for ever. Logs are flushed line by line and files are
// replaced whole, so only the C streams need flushing before the end.
void exitNormally(int code) {
  std::fflush(nullptr);
  exitNow(code);
}

}  // namespace platform
