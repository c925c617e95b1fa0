#include "transfer/progress.h"

#include <limits>

namespace tvl {


void Progress::setCurrentFile(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock_);
  if (currentFile_ != name) currentFile_ = name;
}

int64_t saturatingAdd(int64_t a, int64_t b) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if (b > 0 && a > kMax - b) return kMax;
  if (b < 0 && a < kMin - b) return kMin;
  return a + b;
}

void Progress::addBytesDone(int64_t count) {
  std::lock_guard<std::mutex> hold(lock_);
  if (bytesTotal_ == 0) return;
  bytesDone_ = saturatingAdd(bytesDone_, count);
}

void Progress::setBytesTotal(int64_t total) {
  std::lock_guard<std::mutex> hold(lock_);
  bytesTotal_ = total;
}

ProgressSnapshot Progress::snapshot() const {
  notifyPending.store(false);
  std::lock_guard<std::mutex> hold(lock_);
  ProgressSnapshot s;
  s.currentFile = currentFile_;
  s.bytesDone = bytesDone_;
  s.bytesTotal = bytesTotal_;
  return s;
}

}  // namespace tvl
