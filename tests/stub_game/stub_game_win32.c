/* Stand-in for TervalisOnline2D.bin: appends its process id, its whole command
   line and its working directory to a log (TVL_STUB_LOG, or stub_game.log in
   the working directory), so tests can see what the launcher handed over. */
#include <windows.h>
#include <stdio.h>

int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) {
  (void)i; (void)p; (void)c; (void)s;
  char log[4096];
  DWORD n = GetEnvironmentVariableA("TVL_STUB_LOG", log, sizeof log);
  if (n == 0 || n >= sizeof log) lstrcpyA(log, "stub_game.log");
  char cwd[4096];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  FILE* f = fopen(log, "ab");
  if (!f) return 2;
  fprintf(f, "PID %lu\nCMDLINE %s\nCWD %s\nEND\n", GetCurrentProcessId(), GetCommandLineA(), cwd);
  fclose(f);
  return 0;
}
