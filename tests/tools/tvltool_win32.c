/* Test helper run under Wine.
     tvltool spawn <program> <command line as hex bytes>
       starts program with exactly that command line (no quoting added),
       waits, and exits with its exit code.
     tvltool run <program> <command line as hex bytes> <timeout ms> [button ...]
       starts program in a job and runs it until every process of the job
       (a restarted launcher, the game) has ended, answering message boxes
       with the buttons given, in order. Prints "PROC\t<pid>\t<image>" for
       each process, "BOX\t<button>\t<caption>\t<text>" for each box,
       "EXIT\t<pid>\t<code>" (code "?" when it could not be read) at the end,
       and "FAIL\t<why>" when a box came that no button was left for, a
       button is not on its box, a box never came, or time ran out; then it
       ends the job at once and exits 1.
     tvltool box <button id> <timeout ms>
       waits for a message box (#32770), prints "CAPTION\t<caption>" and
       "TEXT\t<text>" (hex-escaped bytes above 127), presses the button
       (1 OK, 6 Yes, 7 No); exits 3 when none appears in time.
     tvltool stat <path>
       prints the attributes of path in hex, or exits 1 if it is missing.
     tvltool hold <path> <ms> [shared]
       opens path for reading shared with nobody (shared: with readers and
       renames, as a running program's file is held), prints "HELD", keeps
       it open for ms milliseconds (or until killed); exits 1 if it cannot.
     tvltool res <exe>
       prints the exe's strings 103 and 109, the size and depth of icon
       groups 107 and 5, and the language of string block 7. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void putEscaped(const char* s) {
  for (const unsigned char* p = (const unsigned char*)s; *p; ++p) {
    if (*p >= 0x80 || *p == '\\') printf("\\x%02X", *p);
    else if (*p == '\n') printf("\\n");
    else if (*p == '\r') printf("\\r");
    else if (*p == '\t') printf("\\t");
    else putchar(*p);
  }
}

static void printEscaped(const char* tag, const char* s) {
  printf("%s\t", tag);
  putEscaped(s);
  putchar('\n');
}

static int spawn(const char* program, const char* cmdline) {
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  /* Hex keeps quotes and backslashes clear of Wine's argv quoting. */
  size_t n = strlen(cmdline) / 2;
  char* buf = (char*)calloc(n + 1, 1);
  for (size_t i = 0; i < n; ++i) {
    unsigned v;
    sscanf(cmdline + 2 * i, "%2x", &v);
    buf[i] = (char)v;
  }
  if (!CreateProcessA(program, buf, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "tvltool: CreateProcess failed: %lu\n", GetLastError());
    return 125;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  printf("EXIT\t%ld\n", (long)(int)code);
  fflush(stdout);
  return (int)code;
}

struct Found { HWND box; };

static BOOL CALLBACK findBox(HWND w, LPARAM lp) {
  char cls[64];
  if (GetClassNameA(w, cls, sizeof cls) && strcmp(cls, "#32770") == 0 && IsWindowVisible(w)) {
    ((struct Found*)lp)->box = w;
    return FALSE;
  }
  return TRUE;
}

static int box(int button, int timeoutMs) {
  struct Found f = {NULL};
  DWORD start = GetTickCount();
  while (!f.box) {
    EnumWindows(findBox, (LPARAM)&f);
    if (f.box) break;
    if ((int)(GetTickCount() - start) > timeoutMs) return 3;
    Sleep(50);
  }
  char caption[1024] = "", text[4096] = "";
  GetWindowTextA(f.box, caption, sizeof caption);
  HWND st = GetDlgItem(f.box, 0xFFFF);
  if (st) GetWindowTextA(st, text, sizeof text);
  printEscaped("CAPTION", caption);
  printEscaped("TEXT", text);
  fflush(stdout);
  HWND b = GetDlgItem(f.box, button);
  if (!b) return 4;
  SendMessageA(b, BM_CLICK, 0, 0);
  return 0;
}

static HWND answered[64];
static int answeredCount;

static BOOL CALLBACK findNewBox(HWND w, LPARAM lp) {
  char cls[64];
  if (!GetClassNameA(w, cls, sizeof cls) || strcmp(cls, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
  /* A box just answered may stay on screen a moment. */
  for (int i = 0; i < answeredCount; ++i)
    if (answered[i] == w) return TRUE;
  *(HWND*)lp = w;
  return FALSE;
}

static void boxText(HWND w, char* caption, int nc, char* text, int nt) {
  caption[0] = text[0] = 0;
  GetWindowTextA(w, caption, nc);
  HWND st = GetDlgItem(w, 0xFFFF);
  if (st) GetWindowTextA(st, text, nt);
}

struct Proc { DWORD pid; HANDLE h; };

static int runJob(const char* program, const char* hexline, int timeoutMs, int nbuttons, char** buttons) {
  size_t n = strlen(hexline) / 2;
  char* line = (char*)calloc(n + 1, 1);
  for (size_t i = 0; i < n; ++i) {
    unsigned v;
    sscanf(hexline + 2 * i, "%2x", &v);
    line[i] = (char)v;
  }
  HANDLE job = CreateJobObjectA(NULL, NULL);
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT assoc = {job, port};
  if (!job || !port || !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &assoc,
                                                sizeof assoc)) {
    printf("FAIL\tno job object: %lu\n", GetLastError());
    return 1;
  }
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessA(program, line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
    printf("FAIL\tCreateProcess failed: %lu\n", GetLastError());
    return 1;
  }
  if (!AssignProcessToJobObject(job, pi.hProcess)) {
    printf("FAIL\tno job for the process: %lu\n", GetLastError());
    TerminateProcess(pi.hProcess, 1);
    return 1;
  }
  struct Proc procs[64];
  int nprocs = 0;
  procs[nprocs].pid = pi.dwProcessId;
  procs[nprocs++].h = pi.hProcess;
  ResumeThread(pi.hThread);
  int next = 0, failed = 0;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD msg;
    ULONG_PTR key;
    LPOVERLAPPED ov;
    if (GetQueuedCompletionStatus(port, &msg, &key, &ov, 20)) {
      DWORD pid = (DWORD)(ULONG_PTR)ov;
      if (msg == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
      if (msg == JOB_OBJECT_MSG_NEW_PROCESS) {
        int known = 0;
        for (int i = 0; i < nprocs; ++i) known |= procs[i].pid == pid;
        /* Opened at once, so the exit code can still be read after the end. */
        if (!known && nprocs < 64) {
          procs[nprocs].pid = pid;
          procs[nprocs++].h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
        }
      }
      continue;
    }
    HWND w = NULL;
    EnumWindows(findNewBox, (LPARAM)&w);
    if (w) {
      char caption[1024], text[4096];
      boxText(w, caption, sizeof caption, text, sizeof text);
      int button = next < nbuttons ? atoi(buttons[next]) : 0;
      printf("BOX\t%d\t", button);
      putEscaped(caption);
      putchar('\t');
      putEscaped(text);
      putchar('\n');
      HWND b = button ? GetDlgItem(w, button) : NULL;
      if (!button) {
        printf("FAIL\tan unexpected message box\n");
        failed = 1;
        break;
      }
      if (!b) {
        printf("FAIL\tbutton %d is not on this box\n", button);
        failed = 1;
        break;
      }
      ++next;
      if (answeredCount < 64) answered[answeredCount++] = w;
      SendMessageA(b, BM_CLICK, 0, 0);
      continue;
    }
    if ((int)(GetTickCount() - start) > timeoutMs) {
      printf("FAIL\tthe run did not end in %d ms\n", timeoutMs);
      failed = 1;
      break;
    }
  }
  if (failed) {
    /* Said before the job ends, so that the reason is out whatever follows. */
    fflush(stdout);
    TerminateJobObject(job, 1);
  } else if (next < nbuttons) {
    printf("FAIL\tno message box came for button %s (every process ended)\n", buttons[next]);
    failed = 1;
  }
  for (int i = 0; i < nprocs; ++i) {
    char image[MAX_PATH] = "";
    DWORD size = sizeof image, code = 0;
    if (procs[i].h) {
      WaitForSingleObject(procs[i].h, 10000);
      if (!QueryFullProcessImageNameA(procs[i].h, 0, image, &size)) image[0] = 0;
    }
    printf("PROC\t%lu\t", (unsigned long)procs[i].pid);
    putEscaped(image);
    putchar('\n');
    if (procs[i].h && GetExitCodeProcess(procs[i].h, &code) && code != STILL_ACTIVE)
      printf("EXIT\t%lu\t%ld\n", (unsigned long)procs[i].pid, (long)(int)code);
    else
      printf("EXIT\t%lu\t?\n", (unsigned long)procs[i].pid);
  }
  fflush(stdout);
  return failed;
}

static void iconInfo(HMODULE m, int id) {
  HICON icon = (HICON)LoadImageA(m, MAKEINTRESOURCEA(id), IMAGE_ICON, 64, 64, 0);
  ICONINFO ii;
  BITMAP bm;
  if (!icon || !GetIconInfo(icon, &ii) || !GetObjectA(ii.hbmColor, sizeof bm, &bm)) {
    printf("ICON%d\tnone\n", id);
    return;
  }
  printf("ICON%d\t%ldx%ld %dbpp\n", id, bm.bmWidth, bm.bmHeight, bm.bmBitsPixel);
}

static BOOL CALLBACK onLang(HMODULE m, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR p) {
  (void)m; (void)type; (void)name; (void)p;
  printf("LANG\t%u\n", lang);
  return TRUE;
}

static int resources(const char* exe) {
  HMODULE m = LoadLibraryExA(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return 1;
  char buf[100];
  buf[0] = 0;
  LoadStringA(m, 103, buf, sizeof buf);
  printEscaped("STR103", buf);
  buf[0] = 0;
  LoadStringA(m, 109, buf, sizeof buf);
  printEscaped("STR109", buf);
  iconInfo(m, 107);
  iconInfo(m, 5);
  EnumResourceLanguagesA(m, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(7), onLang, 0);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "res") == 0) return resources(argv[2]);
  if (argc == 4 && strcmp(argv[1], "spawn") == 0) return spawn(argv[2], argv[3]);
  if (argc >= 5 && strcmp(argv[1], "run") == 0) return runJob(argv[2], argv[3], atoi(argv[4]), argc - 5, argv + 5);
  if (argc == 4 && strcmp(argv[1], "box") == 0) return box(atoi(argv[2]), atoi(argv[3]));
  if (argc == 3 && strcmp(argv[1], "stat") == 0) {
    DWORD a = GetFileAttributesA(argv[2]);
    if (a == INVALID_FILE_ATTRIBUTES) return 1;
    printf("%08lX\n", (unsigned long)a);
    return 0;
  }
  if ((argc == 4 || (argc == 5 && strcmp(argv[4], "shared") == 0)) && strcmp(argv[1], "hold") == 0) {
    DWORD share = argc == 5 ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0;
    HANDLE h = CreateFileA(argv[2], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 1;
    printf("HELD\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[3]));
    CloseHandle(h);
    return 0;
  }
  fprintf(stderr, "usage: tvltool spawn PROGRAM CMDLINE | run PROGRAM CMDLINE TIMEOUT_MS [BUTTON...] | box BUTTON TIMEOUT_MS | stat PATH |"
                  " hold PATH MS [shared] | res EXE\n");
  return 2;
}
