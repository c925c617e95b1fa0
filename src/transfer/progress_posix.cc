// Headless progress: one line on standard error, rewritten in place on a
// terminal, at most a few times a second so that printing never slows the
// transfer down. Elsewhere (a log, a pipe) each line stands on its own,
// marked "progress: ", every two seconds and for each new file.
#include "transfer/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "transfer/progress_text.h"
#include "transfer/updater.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void notifyProgress(const Updater& updater) {
  static Clock::time_point last;
  static std::string lastFile;
  static bool tty = isatty(STDERR_FILENO) != 0;
  ProgressSnapshot p = updater.progress();
  Clock::time_point now = Clock::now();
  // A new file is always shown; the counters of one file only now and then.
  bool newFile = p.currentFile != lastFile;
  auto interval = tty ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
  if (!newFile && now - last < interval) return;
  last = now;
  lastFile = p.currentFile;
  std::string line = progressLine(p);
  if (tty)
    std::fprintf(stderr, "\r\x1b[K%s", line.c_str());
  else
    std::fprintf(stderr, "progress: %s\n", line.c_str());
  std::fflush(stderr);
}
