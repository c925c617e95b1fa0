// The progress notification from the download code to whoever shows it: the
// splash window (a posted WM_USER, never sent) or, headless, the terminal.
#pragma once

struct Updater;

// Tells the display that the Updater's progress fields changed. Never blocks
// on the display.
void notifyProgress(const Updater& updater);
