// Retries and resumed transfers over a scripted server that understands
// ranges: what is asked for, what ends in staging, what the user would see.
#include "transfer/resilient_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download_test_util.h"

namespace tvl {


namespace {

// One scripted answer per request, in order; the last repeats.
struct Step {
  int status = 200;           // 200: the file from the asked start honoured as a range when ranged
  bool ignoreRange = false;   // answer a range request with the whole file
  size_t cutAfter = SIZE_MAX; // body bytes sent before the connection drops
  std::string etag = "\"v1\"";
  std::string body;           // empty: the server's file
  uint32_t connectError = 0;
};

class RangeServer : public HttpClient {
 public:
  HttpResult get(const HttpRequest& request, HttpSink& sink) override {
    Step s = steps[asked.size() < steps.size() ? asked.size() : steps.size() - 1];
    asked.push_back(request.rangeFrom);
    ifRange.push_back(request.ifRange);
    if (s.connectError) return {HttpOutcome::kNotStarted, s.connectError};
    std::string file = s.body.empty() ? content : s.body;
    HttpResponseHead head;
    head.etag = s.etag;
    size_t from = 0;
    head.status = s.status;
    bool ranged = request.rangeFrom > 0 && !s.ignoreRange && s.status == 200 &&
                  (request.ifRange.empty() || request.ifRange == s.etag);
    if (ranged) {
      from = static_cast<size_t>(request.rangeFrom);
      head.status = 206;
      head.hasContentRange = true;
      head.rangeFirst = static_cast<int64_t>(from);
      head.rangeLast = static_cast<int64_t>(file.size()) + pretend - 1;
      head.rangeTotal = static_cast<int64_t>(file.size()) + pretend;
    }
    std::string body = s.status == 200 ? file.substr(from) : "<html>error</html>";
    head.hasContentLength = true;
    head.contentLength = static_cast<int64_t>(body.size()) + (s.status == 200 ? pretend : 0);
    if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    size_t send = body.size() < s.cutAfter ? body.size() : s.cutAfter;
    for (size_t at = 0; at < send; at += 4096) {
      std::string piece = body.substr(at, std::min<size_t>(4096, send - at));
      if (!sink.onData(piece.data(), piece.size())) return {HttpOutcome::kEnded, 0};
    }
    return {HttpOutcome::kEnded, 0};
  }
  std::string content;
  int64_t pretend = 0;  // bytes announced beyond content, never sent
  std::vector<Step> steps;
  std::vector<int64_t> asked;
  std::vector<std::string> ifRange;
};

bool acceptAll(const std::string&, const FetchTarget&, void*) { return true; }
bool refuseAll(const std::string&, const FetchTarget&, void*) { return false; }

class ResilientFetchTest : public StagingTest {
 protected:
  FetchResult fetch(RangeServer& server, int retries, BodyProof prove = acceptAll, BodyCheck* check = nullptr) {
    DownloadSession session = updater_->session(server);
    session.check = check;
    RetryPolicy policy;
    policy.retries = retries;
    policy.firstDelayMs = 1;
    HttpRequest request;
    request.objectPath = "/3d/big.pak";
    return fetchWithRetries(session, request, FetchTarget{"00112233445566778899AABBCCDDEEFF", 3 << 20, false},
                            policy, prove, nullptr);
  }
};

TEST_F(ResilientFetchTest, WhatEachFaultCosts) {
  std::string file(3 << 20, 'x');
  for (size_t i = 0; i < file.size(); i += 997) file[i] = static_cast<char>(i);
  struct Case {
    const char* what;
    std::vector<Step> steps;
    int retries;
    bool ok;
    uint32_t code;
    std::vector<int64_t> asked;  // the range start of each request
  } cases[] = {
      {"one try, whole", {{}}, 2, true, 0, {0}},
      {"reset mid-body, resumed", {{200, false, 1 << 20}, {}}, 2, true, 0, {0, 1 << 20}},
      {"503, then the file", {{503}, {}}, 2, true, 0, {0, 0}},
      {"404 is not retried", {{404}}, 2, false, 404, {0}},
      {"retries used up", {{503}}, 2, false, 503, {0, 0, 0}},
      {"no retries: one try", {{503}, {}}, 0, false, 503, {0}},
      {"server ignores ranges", {{200, false, 1 << 20}, {200, true}}, 2, true, 0, {0, 1 << 20}},
      {"validator changed: whole new file", {{200, false, 1 << 20}, {200, false, SIZE_MAX, "\"v2\""}}, 2, true, 0,
       {0, 1 << 20}},
      {"cannot connect, then the rest", {{200, false, 2 << 20}, {200, false, SIZE_MAX, "\"v1\"", "", 12029}, {}}, 2,
       true, 0, {0, 2 << 20, 2 << 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(path("data/update"));
    std::filesystem::create_directories(path("data/update"));
    RangeServer server;
    server.content = file;
    server.steps = c.steps;
    FetchResult r = fetch(server, c.retries);
    EXPECT_EQ(r.ok(), c.ok);
    EXPECT_EQ(r.status.code(), c.code);
    EXPECT_EQ(server.asked, c.asked);
    if (c.ok) EXPECT_EQ(testutil::readFile(tempPath()), file);
  }
}

// A body put together from pieces that do not make the listed file is
// fetched whole once more; a partial of a large file waits for the next run.
TEST_F(ResilientFetchTest, ResumedBodyIsProvedAndPartialsWaitForTheNextRun) {
  std::string file(2 << 20, 'y');
  RangeServer server;
  server.content = file;
  server.steps = {{200, false, 1 << 20}, {}, {}};
  EXPECT_TRUE(fetch(server, 2, refuseAll).ok());
  EXPECT_EQ(server.asked, (std::vector<int64_t>{0, 1 << 20, 0}));
  EXPECT_EQ(testutil::readFile(tempPath()), file);

  // Held to a check of every byte (a signed release's SHA-256), the pieces
  // are not read again for a proof.
  struct WholeBody : BodyCheck {
    std::string expected, seen;
    bool announced(int64_t length) override { return static_cast<size_t>(length) == expected.size(); }
    bool received(const char* data, size_t size) override { return seen.append(data, size).size() <= expected.size(); }
    bool complete() override { return seen == expected; }
    void restart() override { seen.clear(); }
  } check;
  check.expected = file;
  std::filesystem::remove(tempPath());
  server.asked.clear();
  EXPECT_TRUE(fetch(server, 2, refuseAll, &check).ok());
  EXPECT_EQ(server.asked, (std::vector<int64_t>{0, 1 << 20}));
  EXPECT_EQ(testutil::readFile(tempPath()), file);

  std::filesystem::remove(tempPath());
  RangeServer dropping;
  dropping.content = file;
  dropping.steps = {{200, false, 1 << 20}, {404}};
  EXPECT_FALSE(fetch(dropping, 2).ok());
  EXPECT_TRUE(testutil::exists(tempPath()));  // kept, with its sidecar

  RangeServer next;  // the next run
  next.content = file;
  next.steps = {{}};
  EXPECT_TRUE(fetch(next, 2).ok());
  EXPECT_EQ(next.asked, (std::vector<int64_t>{1 << 20}));
  EXPECT_EQ(next.ifRange, (std::vector<std::string>{"\"v1\""}));
  EXPECT_EQ(testutil::readFile(tempPath()), file);
}

TEST_F(ResilientFetchTest, ResumesAreShownTheWholeLengthPast4GiB) {
  constexpr int64_t kBeyond = (int64_t{1} << 32) + 7;
  RangeServer server;
  server.content = std::string(2 << 20, 'y');
  server.pretend = kBeyond;
  server.steps = {{200, false, 1 << 20}, {200, false, 0}};
  struct Lengths : BodyCheck {
    std::vector<int64_t> announcedLengths;
    bool announced(int64_t length) override {
      announcedLengths.push_back(length);
      return true;
    }
    bool received(const char*, size_t) override { return true; }
    bool complete() override { return true; }
    void restart() override {}
  } check;
  EXPECT_FALSE(fetch(server, 1, acceptAll, &check).ok());  // the body never ends
  EXPECT_EQ(server.asked, (std::vector<int64_t>{0, 1 << 20}));
  const int64_t whole = (2 << 20) + kBeyond;
  EXPECT_EQ(check.announcedLengths, (std::vector<int64_t>{whole, whole}));
}

}  // namespace

}  // namespace tvl
