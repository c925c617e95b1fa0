// The splash window: a borderless, colour-keyed picture of the skin with the
// progress strips painted over it, draggable with the mouse and closed by a
// fixed box in the picture. Everything here runs on the main thread; the
// worker only posts WM_USER and writes the run's progress, which the window
// reads through splashProgress when it paints.
#pragma once

#include <windows.h>

#include "splash/splash_layout.h"
#include "transfer/progress.h"

namespace tvl {


// Process-wide state of the window side, set on the main thread before the
// worker starts.
extern HWND splashWindow;
extern HINSTANCE splashInstance;
extern HCURSOR currentCursor;  // shown over the client area
extern HFONT splashFont;
extern char windowTitle[100];      // string resource 103
extern char windowClassName[100];  // string resource 109
extern SplashPoint dragAnchor;     // client point of the last press off the close box
extern const Progress* splashProgress;  // what the window shows; set before the worker starts

// Tells the window of new progress by a posted WM_USER.
class SplashProgressListener : public ProgressListener {
 public:
  void progressChanged(const Progress& progress) override;
};

// Arial, 14 pixels, Cyrillic, not antialiased.
HFONT createSplashFont();

ATOM registerSplashClass(HINSTANCE instance);

// The window, sized to the skin, centred, shown and restored. False when it
// cannot be created.
bool openSplashWindow(HINSTANCE instance, int showCommand);

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws splashProgress into the two strips and copies them to the
// window.
void paintProgress();

// The drawing step of paintProgress: canvas holds the clean skin (at least
// in the two strips); the strips are drawn there and copied to windowDC. Sets
// currentCursor.
void drawProgress(HDC windowDC, HDC canvas, const ProgressSnapshot& progress, bool useFont);

}  // namespace tvl
