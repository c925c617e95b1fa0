#include "transfer/progress.h"

#include <windows.h>

#include "transfer/updater.h"

// Posted, never sent: the worker must not wait for the window thread. The
// window reads the progress fields when it handles the message.
void notifyProgress(const Updater& updater) {
  if (updater.window) PostMessageA(static_cast<HWND>(updater.window), WM_USER, 0, 0);
}
