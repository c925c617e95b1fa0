#include "transfer/support_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace tvl {


namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

std::vector<std::string> headings(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& l : lines(text))
    if (l.compare(0, 8, "=== run ") == 0) out.push_back(l);
  return out;
}

class SupportLogTest : public testing::Test {
 protected:
  void SetUp() override {
    log_.setClockForTesting([] { return std::string("T"); });
  }
  std::string path() const { return dir_.file(kSupportLogName); }
  testutil::TempDir dir_;
  SupportLog log_;
};

TEST_F(SupportLogTest, LinesOfARun) {
  EXPECT_STREQ(kSupportLogName, "TervalisOnline2D.log");
  log_.start(path(), "launcher 3.0.0");
  log_.fetched("/3d/a.pak", 1200, 0, 0);
  log_.retrying("/3d/big.pak", 12030, 1, 734);
  log_.resuming("/3d/big.pak", 1048576, "\"5f-3a\"");
  log_.startingOver("/3d/big.pak", "416");
  log_.fetched("/3d/big.pak", 3000000, 1048576, 2);
  log_.failed("/swf/1.png", 404);
  log_.failed("/swf/2.png", 0xFFFFFFFFu);
  log_.stop();
  log_.note("after the run");  // dropped
  EXPECT_EQ(lines(testutil::readFile(path())), (std::vector<std::string>{
                                                   "=== run T launcher 3.0.0",
                                                   "T fetched /3d/a.pak 1200 bytes",
                                                   "T retry 1 of /3d/big.pak after error 12030 in 734 ms",
                                                   "T resume /3d/big.pak at 1048576 if \"5f-3a\"",
                                                   "T start over /3d/big.pak: 416",
                                                   "T fetched /3d/big.pak 3000000 bytes, resumed at 1048576, 2 retries",
                                                   "T FAILED /swf/1.png error 404",
                                                   "T FAILED /swf/2.png error -1",
                                               }));
}

TEST_F(SupportLogTest, KeepsTheLastRunsWithinTheSizeCap) {
  SupportLogLimits limits;
  limits.keepRuns = 3;
  limits.maxBytes = 40000;
  limits.runBytes = 6000;
  for (int run = 1; run <= 6; ++run) {
    log_.start(path(), "run" + std::to_string(run), limits);
    for (int i = 0; i < (run == 4 ? 1000 : 3); ++i) log_.note("line " + std::to_string(i));
    if (run == 4) log_.failed("/3d/x.pak", 12029);  // written although ordinary lines are left out
  }
  std::string text = testutil::readFile(path());
  EXPECT_EQ(headings(text), (std::vector<std::string>{"=== run T run4", "=== run T run5", "=== run T run6"}));
  EXPECT_LE(text.size(), limits.maxBytes);
  EXPECT_NE(text.find("T (more lines left out)\r\nT FAILED /3d/x.pak error 12029\r\n"), std::string::npos);

  // A big run leaves room for a whole new one: older runs go first.
  limits.maxBytes = 20000;
  log_.start(path(), "run7", limits);
  text = testutil::readFile(path());
  EXPECT_EQ(headings(text), (std::vector<std::string>{"=== run T run5", "=== run T run6", "=== run T run7"}));

  // Text before the first heading, and a last line cut by a crash.
  testutil::writeFile(path(), "garbage\r\n=== run T old\r\nT half a li");
  log_.start(path(), "new", limits);
  EXPECT_EQ(lines(testutil::readFile(path())),
            (std::vector<std::string>{"=== run T old", "T half a li", "=== run T new"}));
}

TEST_F(SupportLogTest, CannotWriteIsSilent) {
  log_.start(dir_.file("missing/dir/" + std::string(kSupportLogName)), "x");
  log_.note("nothing happens");
  log_.failed("/3d/a.pak", 5);
  EXPECT_FALSE(testutil::exists(dir_.file("missing")));
}

}  // namespace

}  // namespace tvl
