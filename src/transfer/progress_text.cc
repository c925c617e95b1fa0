#include "transfer/progress_text.h"

#include <algorithm>
#include <cstdint>

namespace tvl {


std::string amountsPair(int64_t done, int64_t total, const char* kiloName) {
  int64_t unit = 1024;
  const char* name = kiloName;
  if (total >= kGigaAmountsFrom) {
    unit = int64_t{1} << 30;
    name = "GB";
  } else if (total >= kMegaAmountsFrom) {
    unit = int64_t{1} << 20;
    name = "MB";
  }
  return std::to_string(done / unit) + " / " + std::to_string(total / unit) + " " + name;
}

std::string progressLine(const ProgressSnapshot& p) {
  if (p.bytesTotal == 0) return "checking update... " + p.currentFile;
  int64_t done = p.bytesDone < 0 ? 0 : p.bytesDone;
  int64_t total = p.bytesTotal < 0 ? 0 : p.bytesTotal;
  int64_t percent = 0;
  if (total <= 0)
    percent = 0;
  else if (done >= total)
    percent = 100;
  else if (done <= INT64_MAX / 100)
    percent = done * 100 / total;
  else  // done * 100 would overflow
    percent = std::min<int64_t>(99, static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) * 100.0));
  return p.currentFile + "  " + amountsPair(done, total, "KB") + " (" + std::to_string(percent) + "%)";
}

}  // namespace tvl
