/* Stand-in for TervalisOnline2D.bin on Linux: the launcher passes its whole
   command line as the one argument. Appends its process id, the command line
   and the working directory to TVL_STUB_LOG, or stub_game.log in the working
   directory. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* log = getenv("TVL_STUB_LOG");
  if (!log || !*log) log = "stub_game.log";
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
  FILE* f = fopen(log, "ab");
  if (!f) return 2;
  fprintf(f, "PID %ld\nCMDLINE %s\nCWD %s\nEND\n", (long)getpid(), argc > 1 ? argv[1] : "", cwd);
  fclose(f);
  return 0;
}
