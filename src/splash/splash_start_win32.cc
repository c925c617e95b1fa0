// The window road's start: the window, then the Updater, then the worker.
#include <string>

#include "launcher/command_line.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "splash/splash_window_win32.h"
#include "transfer/updater.h"
#include "update/worker.h"

namespace {

DWORD WINAPI updateThreadProc(LPVOID) {
  runUpdate();
  return 0;
}

}  // namespace

bool createSplashWindow(HINSTANCE instance, int showCommand) {
  if (!openSplashWindow(instance, showCommand)) return false;
  // The constructor reads splashWindow: the window must exist first.
  theUpdater = new Updater(splashWindow, instance);
  HANDLE worker = CreateThread(nullptr, 0, updateThreadProc, nullptr, 0, nullptr);
  if (!worker) {
    // Without the worker the window would wait for progress that never
    // comes: say so and end instead of hanging.
    const DWORD error = GetLastError();
    platform::messageBox("The update could not be started (system error " +
                             intToString(static_cast<int32_t>(error)) +
                             ").\nPlease close other programs and start the game again.",
                         "Update error", platform::kMbIconError);
    platform::exitNormally(-1);
  }
  CloseHandle(worker);
  return true;
}
