#include "transfer/progress.h"

#include <windows.h>

#include "transfer/updater.h"

// Posted, never sent: the worker must not wait for the window thread. The
// window reads the progress fields when it handles the message. While one
// message is on its way no other is posted: the window will read the newest
// values when it gets to it, and a fast download would otherwise post tens
// of thousands a second (each post is a round trip to the server under Wine).
void notifyProgress(const Updater& updater) {
  if (!updater.window || updater.notifyPending.exchange(true)) return;
  if (!PostMessageA(static_cast<HWND>(updater.window), WM_USER, 0, 0)) updater.notifyPending.store(false);
}
