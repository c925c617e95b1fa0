#include "splash/splash_window_win32.h"

#include <memory>
#include <string>

#include "splash/image_surface_win32.h"
#include "splash/skin.h"

namespace tvl {


HWND splashWindow = nullptr;
HINSTANCE splashInstance = nullptr;
HCURSOR currentCursor = nullptr;
HFONT splashFont = nullptr;
char windowTitle[100] = "";
char windowClassName[100] = "";
SplashPoint dragAnchor = {0, 0};
const Progress* splashProgress = nullptr;

// Posted, never sent: the worker must not wait for the window thread. The
// window reads the progress when it handles the message. While one message
// is on its way no other is posted: the window will read the newest values
// when it gets to it, and a fast download would otherwise post tens of
// thousands a second (each post is a round trip to the server under Wine).
void SplashProgressListener::progressChanged(const Progress& progress) {
  if (!splashWindow || progress.notifyPending.exchange(true)) return;
  if (!PostMessageA(splashWindow, WM_USER, 0, 0)) progress.notifyPending.store(false);
}

namespace {

// Clears WS_CAPTION (WS_BORDER | WS_DLGFRAME) and WS_THICKFRAME.
constexpr LONG kFrameMask = static_cast<LONG>(0xFF3BFFFF);

// Progress notifications folded into one paint at most; bounded so that a
// worker posting without pause cannot hold the window in the loop.
constexpr int kMaxCoalesced = 100000;

// Paints at most this often: a bar 100 frames a second cannot tell apart
// from one painted per chunk, and under Wine each paint costs round trips to
// the server and the display that slowed a loopback download threefold. A
// notification that comes sooner is painted when the interval is over,
// with the values of that moment.
constexpr DWORD kPaintIntervalMs = 10;
constexpr UINT_PTR kPaintTimer = 1;
ULONGLONG lastPaintAt = 0;
bool paintDue = false;  // the timer is set for a notification

// Both strips, to reset the canvas before each paint.
constexpr SplashRect kStrips = {kProgressBar.left, kFileLine.top, kFileLine.right, kProgressBar.bottom};

struct FileStamp {
  DWORD sizeHigh = 0, sizeLow = 0;
  FILETIME created = {0, 0}, written = {0, 0};
  bool operator==(const FileStamp& o) const {
    return sizeHigh == o.sizeHigh && sizeLow == o.sizeLow && CompareFileTime(&created, &o.created) == 0 &&
           CompareFileTime(&written, &o.written) == 0;
  }
};

bool stampOf(const std::string& path, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  stamp->sizeHigh = data.nFileSizeHigh;
  stamp->sizeLow = data.nFileSizeLow;
  stamp->created = data.ftCreationTime;
  stamp->written = data.ftLastWriteTime;
  return true;
}

// The skin, decoded once and kept while its file stays the same. Decoding
// it for every notification held the window to a few hundred paints a
// second while a loopback download posts tens of thousands; what reaches
// the screen is the same. A replaced file (other size or times) is decoded
// anew. Two copies: a clean one for the background and a canvas that the
// strips are drawn on, reset from the clean one before each paint.
class SkinCanvas {
 public:
  // False when there is no skin or it can't be loaded now.
  bool refresh() {
    if (skinPath.empty()) return false;
    FileStamp now;
    if (!stampOf(skinPath, &now)) return false;
    if (clean_ && now == stamp_) return true;
    clean_.reset();
    canvas_.reset();
    auto clean = std::make_unique<ImageSurface>();
    auto canvas = std::make_unique<ImageSurface>();
    if (FAILED(clean->load(skinPath)) || FAILED(canvas->load(skinPath))) return false;
    clean_ = std::move(clean);
    canvas_ = std::move(canvas);
    stamp_ = now;
    return true;
  }

  // Valid after refresh() returned true.
  ImageSurface& clean() { return *clean_; }
  ImageSurface& canvas() { return *canvas_; }

 private:

  std::unique_ptr<ImageSurface> clean_;
  std::unique_ptr<ImageSurface> canvas_;
  FileStamp stamp_;
};

// Lives as long as the window: never destroyed, so that no decoder
// shut-down runs among the exit handlers.
SkinCanvas& skinCanvas() {
  static SkinCanvas* canvas = new SkinCanvas;
  return *canvas;
}

void showCursorFor(const FileLine& line) {
  currentCursor = LoadCursorA(nullptr, line.busyCursor ? IDC_APPSTARTING : IDC_ARROW);
  SetCursor(currentCursor);
}

void paintBackground(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT r;
  GetWindowRect(window, &r);
  SkinCanvas& skin = skinCanvas();
  if (skin.refresh()) {
    BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, skin.clean().acquireDC(), 0, 0, SRCCOPY);
    skin.clean().releaseDC();
  }
  EndPaint(window, &ps);
}

}  // namespace

HFONT createSplashFont() {
  return CreateFontA(14, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_CHARACTER_PRECIS,
                     CLIP_CHARACTER_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
}

ATOM registerSplashClass(HINSTANCE instance) {
  WNDCLASSEXA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = splashWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(107));
  wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(5));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;
  wc.lpszMenuName = MAKEINTRESOURCEA(109);
  wc.lpszClassName = windowClassName;
  return RegisterClassExA(&wc);
}

bool openSplashWindow(HINSTANCE instance, int showCommand) {
  splashInstance = instance;
  int width = 0, height = 0;
  SkinCanvas& skin = skinCanvas();
  if (skin.refresh()) {
    width = skin.clean().width();
    height = skin.clean().height();
  }
  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  SplashPoint origin = centredOrigin(desktop.right, desktop.bottom, width, height);

  HWND window = CreateWindowExA(WS_EX_LAYERED, windowClassName, windowTitle, WS_VISIBLE, origin.x, origin.y, width,
                                height, nullptr, nullptr, instance, nullptr);
  splashWindow = window;
  if (!window) return false;

  SetLayeredWindowAttributes(window, kSeeThroughColour, 255, LWA_COLORKEY);
  SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) & kFrameMask);
  SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  ShowWindow(window, SW_RESTORE);
  return true;
}

void drawProgress(HDC windowDC, HDC canvas, const ProgressSnapshot& progress, bool useFont) {
  SetBkMode(canvas, TRANSPARENT);
  SetTextColor(canvas, kTextColour);
  if (useFont) SelectObject(canvas, splashFont);

  if (progress.bytesTotal != 0) {
    const int32_t fill = progressFillWidth(progress.bytesDone, progress.bytesTotal);
    RECT bar = {kProgressBar.left, kProgressBar.top, kProgressBar.left + fill, kProgressBar.bottom};
    HBRUSH brush = CreateSolidBrush(kFillColour);
    FillRect(canvas, &bar, brush);
    DeleteObject(brush);
    const std::string amounts = amountsText(progress.bytesDone, progress.bytesTotal);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(canvas, amounts.c_str(), static_cast<int>(amounts.size()), &size);
    TextOutA(canvas, amountsTextLeft(size.cx), kProgressBar.top, amounts.c_str(), static_cast<int>(amounts.size()));
    BitBlt(windowDC, kProgressBar.left, kProgressBar.top, kProgressBar.width(), kProgressBar.height(), canvas,
           kProgressBar.left, kProgressBar.top, SRCCOPY);
  }

  const FileLine line = fileLineFor(progress.currentFile);
  showCursorFor(line);
  TextOutA(canvas, kFileLine.left, kFileLine.top, line.text.c_str(), static_cast<int>(line.text.size()));
  BitBlt(windowDC, kFileLine.left, kFileLine.top, kFileLine.width(), kFileLine.height(), canvas, kFileLine.left,
         kFileLine.top, SRCCOPY);
}

void paintProgress() {
  const ProgressSnapshot progress = splashProgress ? splashProgress->snapshot() : ProgressSnapshot();
  SkinCanvas& skin = skinCanvas();
  if (!skin.refresh()) {
    // No skin to draw on right now (none at all, or being replaced): the
    // strips keep what they show; only the cursor follows the file.
    showCursorFor(fileLineFor(progress.currentFile));
    return;
  }
  HDC canvasDC = skin.canvas().acquireDC();
  BitBlt(canvasDC, kStrips.left, kStrips.top, kStrips.width(), kStrips.height(), skin.clean().acquireDC(),
         kStrips.left, kStrips.top, SRCCOPY);
  skin.clean().releaseDC();
  HDC windowDC = GetDC(splashWindow);
  drawProgress(windowDC, canvasDC, progress, !skinPath.empty());
  ReleaseDC(splashWindow, windowDC);
  skin.canvas().releaseDC();
}

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ERASEBKGND:
      paintBackground(window);
      return 0;
    case WM_GETMINMAXINFO:
      // The window is exactly the skin's size, however small: no skin
      // means no size, and so nothing on the screen, rather than the
      // system's smallest captioned window with nothing drawn in it.
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{0, 0};
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) != HTCLIENT) break;
      SetCursor(currentCursor);
      return 0;
    case WM_MOUSEMOVE: {
      if (wParam == 0) break;
      const SplashPoint p = mousePoint(static_cast<uint32_t>(lParam));
      const int32_t dx = dragAnchor.x - p.x;
      const int32_t dy = dragAnchor.y - p.y;
      RECT r;
      GetWindowRect(window, &r);
      if (dx != 0 || dy != 0) SetWindowPos(window, HWND_TOP, r.left - dx, r.top - dy, 0, 0, SWP_NOSIZE);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const SplashPoint p = mousePoint(static_cast<uint32_t>(lParam));
      if (kCloseBox.contains(p.x, p.y)) {
        // Ends the message loop, and with it the process (exit code 0).
        DestroyWindow(window);
        return 0;
      }
      dragAnchor = p;
      return 0;
    }
    case WM_USER: {
      // A notification carries no data and the paint shows the values of
      // the moment, so those queued behind this one would only paint the
      // same picture again. Taking them out keeps the queue short when
      // chunks arrive faster than the window paints (a fast download posts
      // tens of thousands a second).
      MSG queued;
      for (int i = 0; i < kMaxCoalesced && PeekMessageA(&queued, window, WM_USER, WM_USER, PM_REMOVE | PM_NOYIELD);
           ++i) {
      }
      if (paintDue) return 0;
      ULONGLONG since = GetTickCount64() - lastPaintAt;
      if (since < kPaintIntervalMs && SetTimer(window, kPaintTimer, static_cast<UINT>(kPaintIntervalMs - since), nullptr)) {
        paintDue = true;
        return 0;
      }
      paintProgress();
      lastPaintAt = GetTickCount64();
      return 0;
    }
    case WM_TIMER:
      if (wParam != kPaintTimer) break;
      KillTimer(window, kPaintTimer);
      paintDue = false;
      paintProgress();
      lastPaintAt = GetTickCount64();
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace tvl
