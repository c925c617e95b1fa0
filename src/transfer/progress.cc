#include "transfer/progress.h"

#include <limits>

namespace tvl {


void Progress::setCurrentFile(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock_);
  if (currentFile_ != name) currentFile_ = name;
}

void Progress::addBytesDone(int64_t count) {
  std::lock_guard<std::mutex> hold(lock_);
  if (bytesTotal_ == 0) return;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if (count > 0 && bytesDone_ > kMax - count)
    bytesDone_ = kMax;
  else if (count < 0 && bytesDone_ < kMin - count)
    bytesDone_ = kMin;
  else
    bytesDone_ += count;
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
