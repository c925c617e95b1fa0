// The update worker: one run from the file lists to the game start (or the
// restart of a renewed launcher). Runs on its own thread while the window
// thread paints; every run ends the process, except a failure to open the
// digest provider, after which runUpdate returns.
#pragma once

// Runs the update on the calling thread. Needs theUpdater.
void runUpdate();

// Starts the renewed TervalisOnline2D.exe with this process's command line
// and ends this process.
[[noreturn]] void restartSelf();
