// The update without a splash window: the worker runs on the calling thread
// and progress goes wherever notifyProgress sends it when no window exists
// (the terminal on POSIX, nowhere on Windows).
#pragma once

#include "transfer/updater.h"

// Constructs theUpdater without a window and runs the update. Ends the
// process: through the update's own ends, or with a message and exit code 1
// when the update cannot start at all.
[[noreturn]] void runHeadlessUpdate(ModuleHandle instance);
