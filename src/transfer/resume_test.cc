#include "transfer/resume.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "test_util.h"

namespace tvl {


namespace {

HttpResponseHead head(int status, int64_t length, const char* etag = "", const char* range = nullptr,
                      const char* modified = "") {
  HttpResponseHead h;
  h.status = status;
  h.hasContentLength = length >= 0;
  h.contentLength = length;
  h.etag = etag;
  h.lastModified = modified;
  if (range) {
    h.hasContentRange = true;
    if (std::string(range).back() == '*') {
      sscanf(range, "%" SCNd64 "-%" SCNd64, &h.rangeFirst, &h.rangeLast);
    } else {
      sscanf(range, "%" SCNd64 "-%" SCNd64 "/%" SCNd64, &h.rangeFirst, &h.rangeLast, &h.rangeTotal);
    }
  }
  return h;
}

const char kDate[] = "Tue, 04 Mar 2025 10:00:00 GMT";

TEST(Resume, JudgingTheHead) {
  const ResumePoint whole;
  const ResumePoint at{400, 1000, "\"v1\""};
  const ResumePoint atDate{400, 1000, kDate};
  struct Case {
    const char* what;
    ResumePoint point;
    HttpResponseHead head;
    HeadVerdict verdict;
  } cases[] = {
      {"whole: 200", whole, head(200, 1000), HeadVerdict::kFromStart},
      {"whole: 206 not asked for", whole, head(206, 600, "", "400-999/1000"), HeadVerdict::kFail},
      {"whole: 404", whole, head(404, 10), HeadVerdict::kFail},
      {"the rest", at, head(206, 600, "\"v1\"", "400-999/1000"), HeadVerdict::kAppend},
      {"the rest, no validator sent back", at, head(206, -1, "", "400-999/1000"), HeadVerdict::kAppend},
      {"validator changed: 200", at, head(200, 1200, "\"v2\""), HeadVerdict::kFromStart},
      {"ranges ignored: 200", at, head(200, 1000), HeadVerdict::kFromStart},
      {"another start", at, head(206, 601, "\"v1\"", "399-999/1000"), HeadVerdict::kStartOver},
      {"another total", at, head(206, 600, "\"v1\"", "400-999/1001"), HeadVerdict::kStartOver},
      {"total unknown", at, head(206, 600, "\"v1\"", "400-999/*"), HeadVerdict::kStartOver},
      {"not to the end", at, head(206, 100, "\"v1\"", "400-499/1000"), HeadVerdict::kStartOver},
      {"length disagrees", at, head(206, 599, "\"v1\"", "400-999/1000"), HeadVerdict::kStartOver},
      {"no Content-Range", at, head(206, 600, "\"v1\""), HeadVerdict::kStartOver},
      {"If-Range ignored", at, head(206, 600, "\"v2\"", "400-999/1000"), HeadVerdict::kStartOver},
      {"date guards", atDate, head(206, 600, "", "400-999/1000", kDate), HeadVerdict::kAppend},
      {"date changed", atDate, head(206, 600, "", "400-999/1000", "Wed, 05 Mar 2025 10:00:00 GMT"),
       HeadVerdict::kStartOver},
      {"416", at, head(416, 0), HeadVerdict::kStartOver},
      {"503", at, head(503, 10), HeadVerdict::kFail},
  };
  for (const Case& c : cases) EXPECT_EQ(judgeHead(c.point, c.head), c.verdict) << c.what;

  EXPECT_EQ(validatorOf(head(200, 1, "\"e\"", nullptr, kDate)), "\"e\"");
  EXPECT_EQ(validatorOf(head(200, 1, "W/\"e\"", nullptr, kDate)), kDate);  // a weak ETag cannot guard a range
  EXPECT_EQ(validatorOf(head(200, 1, "W/\"e\"")), "");
}

class StagingFileTest : public testing::Test {
 protected:
  std::string staging() const { return dir_.file("part.tmp"); }
  std::string sidecar() const { return sidecarPath(staging()); }
  testutil::TempDir dir_;
};

TEST_F(StagingFileTest, SidecarIsReadOnlyWhenWhole) {
  PartialInfo in{"ABCDEF", 5000000, 5000001, 1048576, "\"1f-2e\""};
  ASSERT_TRUE(writePartialInfo(staging(), in));
  PartialInfo out;
  ASSERT_TRUE(readPartialInfo(staging(), &out));
  EXPECT_EQ(out.digest, in.digest);
  EXPECT_EQ(out.size, in.size);
  EXPECT_EQ(out.total, in.total);
  EXPECT_EQ(out.written, in.written);
  EXPECT_EQ(out.validator, in.validator);
  EXPECT_FALSE(testutil::exists(sidecar() + ".tmp"));

  std::string good = testutil::readFile(sidecar());
  for (const std::string& bad : {good.substr(0, good.size() - 1), good.substr(0, good.size() / 2),
                                 "x" + good, good + "more\n", std::string()}) {
    testutil::writeFile(sidecar(), bad);
    EXPECT_FALSE(readPartialInfo(staging(), &out)) << bad;
  }
  in.written = in.total + 1;
  ASSERT_TRUE(writePartialInfo(staging(), in));
  EXPECT_FALSE(readPartialInfo(staging(), &out));
  in.validator = "a\r\nInjected: 1";
  EXPECT_FALSE(writePartialInfo(staging(), in));
}

// Within a run: a small file broke off, the retry takes the rest; a server
// that then sends the whole file gets it written from the start.
TEST_F(StagingFileTest, RetryContinuesOrStartsOver) {
  StagingFile f(staging(), "D1", 10);
  HttpRequest r;
  f.prepare(r);
  EXPECT_EQ(r.rangeFrom, 0);
  ASSERT_EQ(f.begin(head(200, 10, "\"v1\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(f.write("abcd", 4));
  f.interrupted();
  f.prepare(r);
  EXPECT_EQ(r.rangeFrom, 4);
  EXPECT_EQ(r.ifRange, "\"v1\"");
  ASSERT_EQ(f.begin(head(206, 6, "\"v1\"", "4-9/10")), HeadVerdict::kAppend);
  ASSERT_TRUE(f.write("efg", 3));
  f.interrupted();
  ASSERT_EQ(f.begin(head(206, 3, "\"v1\"", "7-9/10")), HeadVerdict::kAppend);
  ASSERT_TRUE(f.write("hij", 3));
  EXPECT_TRUE(f.complete());
  EXPECT_TRUE(f.resumed());
  EXPECT_EQ(testutil::readFile(staging()), "abcdefghij");
  EXPECT_FALSE(testutil::exists(sidecar()));  // small: never kept across runs

  StagingFile g(staging(), "D2", 6);
  ASSERT_EQ(g.begin(head(200, 6, "\"v1\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(g.write("old", 3));
  g.interrupted();
  ASSERT_EQ(g.begin(head(200, 6, "\"v2\"")), HeadVerdict::kFromStart);  // changed or ranges ignored
  ASSERT_TRUE(g.write("NEWNEW", 6));
  EXPECT_TRUE(g.complete());
  EXPECT_EQ(testutil::readFile(staging()), "NEWNEW");

  // Without a validator nothing can be resumed; a 416 drops the partial.
  StagingFile h(staging(), "D3", 6);
  ASSERT_EQ(h.begin(head(200, 6, "W/\"weak\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(h.write("abc", 3));
  h.interrupted();
  EXPECT_EQ(h.point().from, 0);
  ASSERT_EQ(h.begin(head(200, 6, "\"s\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(h.write("abc", 3));
  h.interrupted();
  EXPECT_EQ(h.begin(head(416, 0)), HeadVerdict::kStartOver);
  EXPECT_FALSE(testutil::exists(staging()));
  EXPECT_EQ(h.point().from, 0);
  // A body that ends short is not complete.
  ASSERT_EQ(h.begin(head(200, 6, "\"s\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(h.write("abc", 3));
  EXPECT_FALSE(h.complete());
}

// Across runs: a large partial survives a killed launcher up to its last
// checkpoint and is taken over only for the same list entry.
TEST_F(StagingFileTest, LargePartialCarriesOverToTheNextRun) {
  const int64_t total = 3 << 20;
  std::string body(static_cast<size_t>(total), '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 4096);
  {
    StagingFile f(staging(), "D", total);
    ASSERT_EQ(f.begin(head(200, total, "\"v\"")), HeadVerdict::kFromStart);
    ASSERT_TRUE(f.write(body.data(), (3 << 19) + 100));  // 1.5 MiB: one checkpoint at most
  }  // killed: the sidecar counts what was on disk at its last checkpoint
  PartialInfo info;
  ASSERT_TRUE(readPartialInfo(staging(), &info));
  EXPECT_EQ(info.written, (3 << 19) + 100);  // one write crossing the mark: checkpointed after it

  StagingFile other(staging(), "OTHER", total);  // the list entry changed
  EXPECT_EQ(other.adoptLeftover(), 0);
  EXPECT_FALSE(testutil::exists(staging()));
  EXPECT_FALSE(testutil::exists(sidecar()));

  {
    StagingFile f(staging(), "D", total);
    ASSERT_EQ(f.begin(head(200, total, "\"v\"")), HeadVerdict::kFromStart);
    for (int64_t at = 0; at < 2500000; at += 100000) ASSERT_TRUE(f.write(body.data() + at, 100000));
    PartialInfo mid;
    ASSERT_TRUE(readPartialInfo(staging(), &mid));
    EXPECT_EQ(mid.written, 2200000);  // checkpoints every MiB, after the write that crosses it
  }
  StagingFile next(staging(), "D", total);
  ASSERT_EQ(next.adoptLeftover(), 2200000);
  HttpRequest r;
  next.prepare(r);
  EXPECT_EQ(r.rangeFrom, 2200000);
  EXPECT_EQ(r.ifRange, "\"v\"");
  ASSERT_EQ(next.begin(head(206, total - 2200000, "\"v\"", "2200000-3145727/3145728")), HeadVerdict::kAppend);
  ASSERT_TRUE(next.write(body.data() + 2200000, static_cast<size_t>(total - 2200000)));
  EXPECT_TRUE(next.complete());
  EXPECT_TRUE(next.resumed());
  EXPECT_TRUE(testutil::readFile(staging()) == body);
  EXPECT_FALSE(testutil::exists(sidecar()));
}

// A body the disk did not take whole keeps its sidecar: a full disk leaves
// the partial to its last checkpoint.
TEST_F(StagingFileTest, ShortBodyKeepsItsCheckpoint) {
  const int64_t total = 3 << 20;
  std::string body(static_cast<size_t>(total), 'b');
  StagingFile f(staging(), "D", total);
  ASSERT_EQ(f.begin(head(200, total, "\"v\"")), HeadVerdict::kFromStart);
  ASSERT_TRUE(f.write(body.data(), 2 << 20));
  EXPECT_FALSE(f.complete());
  f.leaveAtCheckpoint();
  PartialInfo info;
  ASSERT_TRUE(readPartialInfo(staging(), &info));
  EXPECT_EQ(info.written, 2 << 20);
  EXPECT_EQ(testutil::readFile(staging()).size(), size_t{2} << 20);
}

// Past 4 GiB the continuation lands where the partial ends (a 32-bit seek
// would miss it). The partial is sparse, so this costs nothing.
TEST_F(StagingFileTest, ContinuesPast4GiB) {
  const int64_t total = 6LL << 30, kept = (5LL << 30) + 3;
  testutil::writeFile(staging(), "");
  std::filesystem::resize_file(staging(), static_cast<uintmax_t>(kept));
  ASSERT_TRUE(writePartialInfo(staging(), PartialInfo{"D", total, total, kept, "\"v\""}));
  StagingFile f(staging(), "D", total);
  ASSERT_EQ(f.adoptLeftover(), kept);
  const std::string range = std::to_string(kept) + "-" + std::to_string(total - 1) + "/" + std::to_string(total);
  ASSERT_EQ(f.begin(head(206, total - kept, "\"v\"", range.c_str())), HeadVerdict::kAppend);
  ASSERT_TRUE(f.write("tail", 4));
  f.interrupted();
  EXPECT_EQ(std::filesystem::file_size(staging()), static_cast<uintmax_t>(kept + 4));
  std::ifstream in(staging(), std::ios::binary);
  in.seekg(kept);
  char got[5] = {};
  in.read(got, 4);
  EXPECT_STREQ(got, "tail");
  in.close();
  std::filesystem::remove(staging());
}

TEST_F(StagingFileTest, LeavingKeepsOnlyLargeResumablePartials) {
  struct Case {
    const char* what;
    int64_t size;
    const char* etag;
    bool kept;
  } cases[] = {
      {"large, validated", 2 << 20, "\"v\"", true},
      {"small", (1 << 20) - 1, "\"v\"", false},
      {"no validator", 2 << 20, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StagingFile f(staging(), "D", c.size);
    ASSERT_EQ(f.adoptLeftover(), 0);
    ASSERT_EQ(f.begin(head(200, c.size, c.etag)), HeadVerdict::kFromStart);
    ASSERT_TRUE(f.write("0123456789", 10));
    f.interrupted();
    f.leave();
    EXPECT_EQ(testutil::exists(staging()), c.kept);
    EXPECT_EQ(testutil::exists(sidecar()), c.kept);
    StagingFile again(staging(), "D", c.size);
    EXPECT_EQ(again.adoptLeftover(), c.kept ? 10 : 0);
    again.discard();
  }
  // A sidecar that counts more than the file holds is not believed.
  testutil::writeFile(staging(), "short");
  ASSERT_TRUE(writePartialInfo(staging(), PartialInfo{"D", 2 << 20, 2 << 20, 100, "\"v\""}));
  StagingFile f(staging(), "D", 2 << 20);
  EXPECT_EQ(f.adoptLeftover(), 0);
  EXPECT_FALSE(testutil::exists(staging()));
}

}  // namespace

}  // namespace tvl
