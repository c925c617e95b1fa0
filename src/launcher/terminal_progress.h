// Headless progress: one line on standard error, rewritten in place on a
// terminal, at most a few times a second so that printing never slows the
// transfer down. Elsewhere (a log, a pipe) each line stands on its own,
// marked "progress: ", every two seconds, for each new file and when the
// amounts reach the total (so the last line says where the run ended).
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "transfer/progress.h"

namespace tvl {


class TerminalProgress : public ProgressListener {
 public:
  explicit TerminalProgress(bool terminal) : terminal_(terminal) {}
  void progressChanged(const Progress& progress) override;

 private:
  bool terminal_;
  std::mutex lock_;  // several transfers may report at once
  std::chrono::steady_clock::time_point last_;
  std::string lastFile_;
  bool complete_ = false;
};

}  // namespace tvl
