/* Preloaded into a launcher (or a wineserver) by a test: the rename that
 * moves "<name>.new" onto <name>, where TVL_FAIL_RENAME_ONTO gives <name>,
 * fails with EACCES. Every other rename goes through, so the rename that
 * moves the running launcher aside still succeeds. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* base_name(const char* p) {
  const char* s = strrchr(p, '/');
  return s ? s + 1 : p;
}

static int refused(const char* from, const char* to) {
  const char* name = getenv("TVL_FAIL_RENAME_ONTO");
  if (!name || !*name || strcmp(base_name(to), name) != 0) return 0;
  char fresh[4096];
  snprintf(fresh, sizeof fresh, "%s.new", name);
  if (strcmp(base_name(from), fresh) != 0) return 0;
  errno = EACCES;
  return 1;
}

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (refused(from, to)) return -1;
  if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  static int (*real)(int, const char*, int, const char*);
  if (refused(from, to)) return -1;
  if (!real) real = (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
  return real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  static int (*real)(int, const char*, int, const char*, unsigned int);
  if (refused(from, to)) return -1;
  if (!real) real = (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
  return real(fromDir, from, toDir, to, flags);
}
