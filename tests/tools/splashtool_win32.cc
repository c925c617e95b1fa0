// Test and bench helper for the splash window, run under Wine.
//
//   splashtool probe [SHOW COMMAND]
//     In the working directory (an install with data/updater) opens the
//     splash window the way the launcher's window road does, with a progress
//     but no worker: the test plays the worker. Prints "SKINS <path>|...",
//     the list it chose from, "SKIN <path>" and
//     "WINDOW <left> <top> <width> <height>", then reads commands, one a
//     line, from standard input:
//       file NAME | total N | done N | post | stream N | where | stop | sync | quit
//     "post" posts one progress notification from the reading thread, as
//     the download code does; "stream N" starts a thread that adds a chunk
//     of 8 KiB to the progress and notifies, as a download does, N times a
//     second until "stop".
//     "where" answers "WHERE <left> <top> <notifications streamed>" at once,
//     however busy the window is; "stop" ends the stream and answers
//     "STOPPED <notifications streamed>". "sync" answers
//     "SYNC <left> <top> <width> <height> <arrow|busy|other> <ms>" once every
//     notification posted before it has been handled (ms: since the last
//     sync).
//
//     The window is shown with SHOW COMMAND (default SW_SHOWNORMAL). Exits
//     with the code of the quit message when the window is destroyed.
//
//   splashtool close CLASS
//     Asks the first window of that class to close, as the taskbar's close
//     command does; exits 1 when there is none.
//
//   splashtool regdump KEY
//     Every key below HKEY_CLASSES_ROOT\KEY (itself included) and its values:
//     "KEY <path>" then "VALUE <name> <type> <size> <data as hex>" lines;
//     exits 1 when KEY is missing.
//
//   splashtool bench reload|cached SKIN MILLISECONDS
//     Paints progress into a 512 x 400 layered window for that long, either
//     decoding the skin for every paint or with the window's cached skin,
//     and prints "<mode> <paints> <per second>".
//
//   splashtool bench notify|bare SKIN COUNT
//     A second thread posts COUNT progress notifications as fast as it can,
//     each after a chunk of 8 KiB, to the real splash window (notify) or to
//     a window that ignores them (bare), and prints "<mode> <count> <per
//     second>": how fast they were handled, to the last one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "splash/image_surface_win32.h"
#include "splash/skin.h"
#include "splash/splash_window_win32.h"
#include "transfer/progress.h"

using namespace tvl;

namespace {

// The progress the window shows, as the launcher's start-up gives it.
Progress* toolProgress = nullptr;

void startProgress() {
  toolProgress = new Progress(new SplashProgressListener);
  splashProgress = toolProgress;
}


constexpr UINT kSync = WM_APP + 1;
constexpr UINT kQuit = WM_APP + 2;
DWORD mainThread = 0;

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The stream: a download that keeps its chunks coming.
volatile LONG streaming = 0;
volatile LONG streamed = 0;

DWORD WINAPI streamNotifications(LPVOID arg) {
  const long perSecond = static_cast<long>(reinterpret_cast<INT_PTR>(arg));
  const DWORD start = GetTickCount();
  while (streaming) {
    // Paced in batches of a millisecond's worth.
    long due = static_cast<long>((GetTickCount() - start) * static_cast<long long>(perSecond) / 1000);
    // As the download code does, but never reaching the end: the count
    // goes back now and then, so every chunk changes what is shown.
    while (streamed < due && streaming) {
      toolProgress->addBytesDone(streamed % 100000 == 99999 ? -8192 * 99999 : 8192);
      toolProgress->notify();
      InterlockedIncrement(&streamed);
    }
    Sleep(1);
  }
  return 0;
}

DWORD WINAPI readCommands(LPVOID) {
  HANDLE stream = nullptr;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string word = line.substr(0, line.find(' '));
    std::string arg = line.size() > word.size() ? line.substr(word.size() + 1) : std::string();
    if (word == "file") {
      toolProgress->setCurrentFile(arg);
    } else if (word == "total") {
      toolProgress->setBytesTotal(std::atoll(arg.c_str()));
    } else if (word == "done") {
      int64_t want = std::atoll(arg.c_str());
      toolProgress->addBytesDone(want - toolProgress->snapshot().bytesDone);
    } else if (word == "post") {
      PostMessageA(splashWindow, WM_USER, 0, 0);
    } else if (word == "stream" && !stream) {
      streaming = 1;
      stream = CreateThread(nullptr, 0, streamNotifications,
                            reinterpret_cast<LPVOID>(static_cast<INT_PTR>(std::atol(arg.c_str()))), 0, nullptr);
    } else if (word == "where") {
      RECT r;
      GetWindowRect(splashWindow, &r);
      say("WHERE " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(streamed));
    } else if (word == "stop" && stream) {
      streaming = 0;
      WaitForSingleObject(stream, INFINITE);
      CloseHandle(stream);
      stream = nullptr;
      say("STOPPED " + std::to_string(streamed));
    } else if (word == "sync") {
      PostThreadMessageA(mainThread, kSync, 0, 0);
    } else if (word == "quit") {
      break;
    }
  }
  PostThreadMessageA(mainThread, kQuit, 0, 0);
  return 0;
}

const char* cursorName() {
  if (currentCursor == LoadCursorA(nullptr, IDC_ARROW)) return "arrow";
  if (currentCursor == LoadCursorA(nullptr, IDC_APPSTARTING)) return "busy";
  return "other";
}

int probe(int showCommand) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  currentCursor = LoadCursorA(nullptr, IDC_ARROW);
  const SkinList skins = loadSkinList();
  std::string list;
  for (const std::string& path : skins) list += (list.empty() ? "" : "|") + path;
  say("SKINS " + list);
  chooseSkin(skins);
  splashFont = createSplashFont();
  std::strcpy(windowTitle, "TervalisUpdater3D");
  std::strcpy(windowClassName, "TERVALIS3DUPDATER");
  registerSplashClass(instance);
  say("SKIN " + skinPath);
  if (!openSplashWindow(instance, showCommand)) {
    say("NOWINDOW");
    return 3;
  }
  startProgress();
  RECT r;
  GetWindowRect(splashWindow, &r);
  char buf[160];
  std::snprintf(buf, sizeof buf, "WINDOW %ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  say(buf);

  mainThread = GetCurrentThreadId();
  MSG m;
  PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue exists from here
  CloseHandle(CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr));
  DWORD last = GetTickCount();
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    if (!m.hwnd && m.message == kQuit) break;
    if (!m.hwnd && m.message == kSync) {
      UpdateWindow(splashWindow);
      GdiFlush();
      GetWindowRect(splashWindow, &r);
      DWORD now = GetTickCount();
      std::snprintf(buf, sizeof buf, "SYNC %ld %ld %ld %ld %s %lu %s", r.left, r.top, r.right - r.left,
                    r.bottom - r.top, cursorName(), static_cast<unsigned long>(now - last),
                    IsIconic(splashWindow) ? "iconic" : IsWindowVisible(splashWindow) ? "shown" : "hidden");
      last = now;
      say(buf);
      continue;
    }
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  if (m.message == WM_QUIT) {
    say("QUIT " + std::to_string(static_cast<int>(m.wParam)));
    return static_cast<int>(m.wParam);
  }
  return 0;
}

int closeWindow(const char* className) {
  HWND w = FindWindowA(className, nullptr);
  if (!w) return 1;
  PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

struct Flood {
  HWND window;
  long count;
};

DWORD WINAPI postNotifications(LPVOID arg) {
  Flood* f = static_cast<Flood*>(arg);
  for (long i = 0; i < f->count; ++i) {
    toolProgress->addBytesDone(8192);
    PostMessageA(f->window, WM_USER, 0, 0);
  }
  PostThreadMessageA(mainThread, kQuit, 0, 0);
  return 0;
}

int benchNotify(const std::string& mode, const std::string& skin, long count) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  skinPath = skin;
  splashFont = createSplashFont();
  currentCursor = LoadCursorA(nullptr, IDC_ARROW);
  std::strcpy(windowTitle, "TervalisUpdater3D");
  std::strcpy(windowClassName, mode == "bare" ? "TVLBARE" : "TERVALIS3DUPDATER");
  if (mode == "bare") {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = windowClassName;
    RegisterClassExA(&wc);
    splashWindow = CreateWindowExA(WS_EX_LAYERED, windowClassName, windowTitle, WS_POPUP | WS_VISIBLE, 256, 184,
                                   512, 400, nullptr, nullptr, instance, nullptr);
  } else {
    registerSplashClass(instance);
    openSplashWindow(instance, SW_SHOWNORMAL);
  }
  if (!splashWindow) return 3;
  startProgress();
  toolProgress->setCurrentFile("data/maps/world.pak");
  toolProgress->setBytesTotal(0x7FFFFFFF);
  mainThread = GetCurrentThreadId();
  MSG m;
  PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  Flood flood = {splashWindow, count};
  LARGE_INTEGER freq, start, end;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  CloseHandle(CreateThread(nullptr, 0, postNotifications, &flood, 0, nullptr));
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    if (!m.hwnd && m.message == kQuit) break;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  QueryPerformanceCounter(&end);
  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
  std::printf("%s %ld %.0f\n", mode.c_str(), count, count / seconds);
  return 0;
}

int bench(const std::string& mode, const std::string& skin, int ms) {
  if (mode == "notify" || mode == "bare") return benchNotify(mode, skin, ms);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  skinPath = skin;
  splashFont = createSplashFont();
  WNDCLASSEXA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.lpszClassName = "TVLPAINTBENCH";
  RegisterClassExA(&wc);
  HWND window = CreateWindowExA(WS_EX_LAYERED, wc.lpszClassName, "paint bench", WS_POPUP | WS_VISIBLE, 100, 100, 512,
                                400, nullptr, nullptr, instance, nullptr);
  if (!window) return 3;
  SetLayeredWindowAttributes(window, 0x00FF00FF, 255, LWA_COLORKEY);
  splashWindow = window;
  startProgress();
  toolProgress->setCurrentFile("data/maps/world.pak");
  toolProgress->setBytesTotal(400 * 1024 * 1024);

  const bool reload = mode == "reload";
  LARGE_INTEGER freq, start, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  long paints = 0;
  double seconds = 0;
  do {
    toolProgress->addBytesDone(8192);
    if (reload) {
      // Every paint as first specified: decode the skin anew, draw, copy.
      HDC windowDC = GetDC(window);
      ImageSurface surface;
      surface.load(skinPath);
      drawProgress(windowDC, surface.acquireDC(), toolProgress->snapshot(), true);
      surface.releaseDC();
      ReleaseDC(window, windowDC);
    } else {
      paintProgress();
    }
    ++paints;
    if ((paints & 63) == 0) {
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    QueryPerformanceCounter(&now);
    seconds = static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
  } while (seconds * 1000 < ms);
  std::printf("%s %ld %.0f\n", mode.c_str(), paints, paints / seconds);
  return 0;
}

std::string hex(const BYTE* p, DWORD n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (DWORD i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

void dumpKey(HKEY key, const std::string& path) {
  say("KEY " + path);
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameSize = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::string data(size, '\0');
    nameSize = sizeof name;
    RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    say("VALUE " + std::string(nameSize ? name : "(default)") + " " + std::to_string(type) + " " +
        std::to_string(size) + " " + hex(reinterpret_cast<const BYTE*>(data.data()), size));
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    dumpKey(sub, path + "\\" + name);
    RegCloseKey(sub);
  }
}

int regdump(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
  dumpKey(key, path);
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "probe") == 0)
    return probe(argc == 3 ? std::atoi(argv[2]) : SW_SHOWNORMAL);
  if (argc == 3 && std::strcmp(argv[1], "close") == 0) return closeWindow(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "regdump") == 0) return regdump(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "bench") == 0) return bench(argv[2], argv[3], std::atoi(argv[4]));
  std::fprintf(stderr, "usage: splashtool probe [SHOW] | close CLASS | regdump KEY | bench reload|cached SKIN MILLISECONDS\n");
  return 2;
}
