#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "test_util.h"
#include "transfer/archive.h"

namespace tvl {


namespace {

std::string fixture(const std::string& name) { return std::string(TVL_ARCHIVE_FIXTURES) + "/" + name; }

// DOS times are local time; in a zone three hours east of UTC without
// daylight saving, 13:45:30 local is 10:45:30 UTC.
TEST(ArchivePosix, DosTimeIsLocalTime) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "TVL-3", 1);
  tzset();
  ArchiveReader* r = openArchive(fixture("stored.zip"));
  ASSERT_NE(r, nullptr);
  ArchiveItem it;
  EXPECT_EQ(getArchiveItem(r, 0, it), kArchiveOk);
  closeArchive(r);
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  const int64_t utc = 1589712330;  // 2020-05-17 10:45:30 UTC
  EXPECT_EQ(it.writeTime, static_cast<uint64_t>((utc + 11644473600LL) * 10000000));
  EXPECT_EQ(it.creationTime, it.writeTime);
  EXPECT_EQ(it.accessTime, it.writeTime);
}

}  // namespace

}  // namespace tvl
