#include "transfer/progress_text.h"

#include "base/text.h"

namespace tvl {


std::string progressLine(const ProgressSnapshot& p) {
  if (p.bytesTotal == 0) return "checking update... " + p.currentFile;
  int64_t done = p.bytesDone < 0 ? 0 : p.bytesDone;
  int64_t total = p.bytesTotal < 0 ? 0 : p.bytesTotal;
  int64_t percent = total > 0 ? (done >= total ? 100 : done * 100 / total) : 0;
  return p.currentFile + "  " + intToString(static_cast<int32_t>(done / 1024)) + " / " +
         intToString(static_cast<int32_t>(total / 1024)) + " KB (" + intToString(static_cast<int32_t>(percent)) +
         "%)";
}

}  // namespace tvl
