#include "transfer/progress.h"

#include <limits>

namespace tvl {


void Progress::setCurrentFile(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock_);
  if (currentFile_ != name) currentFile_ = name;
}

void Progress::addBytesDone(int32_t count) {
  std::lock_guard<std::mutex> hold(lock_);
  if (bytesTotal_ == 0) return;
  int64_t sum = static_cast<int64_t>(bytesDone_) + count;
  if (sum > std::numeric_limits<int32_t>::max()) sum = std::numeric_limits<int32_t>::max();
  if (sum < std::numeric_limits<int32_t>::min()) sum = std::numeric_limits<int32_t>::min();
  bytesDone_ = static_cast<int32_t>(sum);
}

void Progress::setBytesTotal(int32_t total) {
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
