#include <windows.h>

#include <gtest/gtest.h>

#include "test_util.h"
#include "transfer/archive.h"

namespace tvl {


namespace {

std::string fixture(const std::string& name) { return std::string(TVL_ARCHIVE_FIXTURES) + "/" + name; }

struct Reader {
  explicit Reader(const std::string& name, const std::string& base) : r(openArchive(fixture(name))) {
    if (r) setArchiveBaseDir(r, base);
  }
  ~Reader() { closeArchive(r); }
  ArchiveReader* r;
};

TEST(ArchiveWin32, StoredDosAttributesReachTheDisk) {
  testutil::TempDir dir;
  Reader z("attrs.zip", dir.path());
  ASSERT_NE(z.r, nullptr);
  struct Case {
    int32_t index;
    const char* target;
    DWORD want;
  } cases[] = {
      {0, "ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {1, "hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {3, "unix_ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {4, "unix_rw.txt", FILE_ATTRIBUTE_ARCHIVE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(extractArchiveItem(z.r, c.index, c.target), kArchiveOk) << c.target;
    EXPECT_EQ(GetFileAttributesA(dir.file(c.target).c_str()), c.want) << c.target;
  }
  // A hidden target is replaced too.
  EXPECT_EQ(extractArchiveItem(z.r, 4, "hidden.txt"), kArchiveOk);
  EXPECT_EQ(GetFileAttributesA(dir.file("hidden.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(testutil::readFile(dir.file("hidden.txt")), "unix writable\n");
}

// DOS times are local time: read back as local time they give the fields.
TEST(ArchiveWin32, DosTimeIsLocalTime) {
  testutil::TempDir dir;
  Reader z("stored.zip", dir.path());
  ArchiveItem it;
  ASSERT_EQ(getArchiveItem(z.r, 0, it), kArchiveOk);
  FILETIME utc = {static_cast<DWORD>(it.writeTime), static_cast<DWORD>(it.writeTime >> 32)}, local;
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
  EXPECT_EQ(st.wYear, 2020);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wDay, 17);
  EXPECT_EQ(st.wHour, 13);
  EXPECT_EQ(st.wMinute, 45);
  EXPECT_EQ(st.wSecond, 30);
  EXPECT_EQ(it.creationTime, it.writeTime);
  EXPECT_EQ(it.accessTime, it.writeTime);
}

// A target in use cannot be replaced: it stays as it was, attributes too.
TEST(ArchiveWin32, TargetInUseStaysAsItWas) {
  testutil::TempDir dir;
  Reader z("stored.zip", dir.path());
  std::string target = dir.file("busy.exe");
  testutil::writeFile(target, "running");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  DWORD before = GetFileAttributesA(target.c_str());
  ASSERT_TRUE(before & FILE_ATTRIBUTE_READONLY);
  HANDLE h = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(extractArchiveItem(z.r, 0, "busy.exe"), kArchiveCannotCreate);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA(target.c_str()), before);
  EXPECT_EQ(testutil::readFile(target), "running");
  EXPECT_EQ(GetFileAttributesA((target + ".tvltmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

}  // namespace tvl
