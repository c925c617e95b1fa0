#include "transfer/progress_text.h"

#include <gtest/gtest.h>

namespace tvl {


TEST(ProgressLine, Table) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  struct Case {
    const char* file;
    int64_t done, total;
    const char* want;
  } cases[] = {
      {"files.txt", 0, 0, "checking update... files.txt"},
      {"a.pak", 1536000, 4096000, "a.pak  1500 / 4000 KB (37%)"},
      {"a.pak", 5000, 4000, "a.pak  4 / 3 KB (100%)"},
      {"a.pak", INT32_MAX - 1, INT32_MAX, "a.pak  2097151 / 2097151 KB (99%)"},
      {"a.pak", 0, 30 * kGiB, "a.pak  0 / 30720 MB (0%)"},
      {"a.pak", 15 * kGiB, 30 * kGiB, "a.pak  15360 / 30720 MB (50%)"},
      {"a.pak", 30 * kGiB, 30 * kGiB, "a.pak  30720 / 30720 MB (100%)"},
      {"a.pak", INT64_MAX - 1, INT64_MAX, "a.pak  8589934591 / 8589934591 GB (99%)"},
  };
  for (const Case& c : cases) {
    ProgressSnapshot p;
    p.currentFile = c.file;
    p.bytesDone = c.done;
    p.bytesTotal = c.total;
    EXPECT_EQ(progressLine(p), c.want);
  }
}

}  // namespace tvl
