#include "launcher/terminal_progress.h"

#include <cstdio>

#include "transfer/progress_text.h"

namespace tvl {


void TerminalProgress::progressChanged(const Progress& progress) {
  std::lock_guard<std::mutex> hold(lock_);
  ProgressSnapshot p = progress.snapshot();
  auto now = std::chrono::steady_clock::now();
  // A new file is always shown; the counters of one file only now and then.
  bool newFile = p.currentFile != lastFile_;
  auto interval = terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(2000);
  bool complete = p.bytesTotal > 0 && p.bytesDone >= p.bytesTotal;
  bool completes = complete && !complete_;
  complete_ = complete;
  if (!newFile && !completes && now - last_ < interval) return;
  last_ = now;
  lastFile_ = p.currentFile;
  std::string line = progressLine(p);
  if (terminal_)
    std::fprintf(stderr, "\r\x1b[K%s", line.c_str());
  else
    std::fprintf(stderr, "progress: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace tvl
