#include "transfer/rate_limit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>


namespace tvl {


namespace {

constexpr int64_t kMs = 1000 * 1000;
constexpr int64_t kSecond = 1000 * kMs;

// A 200 with the body in chunks of kHttpChunk.
struct BodyServer : HttpClient {
  std::string body;
  HttpResult get(const HttpRequest&, HttpSink& sink) override {
    HttpResponseHead head;
    head.status = 200;
    head.hasContentLength = true;
    head.contentLength = static_cast<int64_t>(body.size());
    if (!sink.onHead(head)) return {HttpOutcome::kRefused, 0};
    for (size_t at = 0; at < body.size(); at += kHttpChunk)
      if (!sink.onData(body.data() + at, std::min(kHttpChunk, body.size() - at))) break;
    return {HttpOutcome::kEnded, 0};
  }
};

TEST(RateLimiter, BooksEachChunkAtTheCap) {
  struct Step {
    int64_t at;  // ms
    size_t bytes;
    int64_t waitMs;
  };
  struct Case {
    const char* what;
    int64_t rate;
    std::vector<Step> steps;
  } cases[] = {
      {"within the leeway nobody waits", 1000, {{0, 25, 0}, {0, 25, 0}}},
      {"beyond it the receiver waits for the rest", 1000, {{0, 50, 0}, {0, 100, 100}, {0, 100, 200}}},
      {"time that passed pays", 1000, {{0, 300, 250}, {200, 100, 150}}},
      {"an idle line saves nothing up", 1000, {{0, 100, 50}, {10000, 150, 100}}},
      {"a slow line saves nothing up either", 1000, {{0, 10, 0}, {500, 10, 0}, {500, 200, 160}}},
      {"one chunk at the smallest cap", kRateUnitBytes, {{0, 8192, 7950}}},
      {"a fast cap", 1000 * 1000 * 1000, {{0, 8192, 0}, {0, 200 * 1000 * 1000, 150}}},
  };
  for (const Case& c : cases) {
    RateLimiter limiter(c.rate);
    for (const Step& s : c.steps) EXPECT_EQ(limiter.book(s.at * kMs, s.bytes) / kMs, s.waitMs) << c.what;
  }
}

// Connections on a line far faster than the cap, each reading a chunk as
// soon as its last one is paid for: over every span, no more than the cap
// (plus the leeway and one chunk per connection) gets through, and no less
// than the cap minus one chunk per connection.
TEST(RateLimiter, SharedByConnectionsHoldsTheCapOverEverySpan) {
  struct Case {
    int connections;
    int64_t rate;
    size_t chunk;
  } cases[] = {{1, 2 * 1024 * 1024, 8192}, {4, 2 * 1024 * 1024, 8192}, {16, 100 * 1024, 8192}, {4, 2048, 1000}};
  for (const Case& c : cases) {
    int64_t now = 0;
    RateLimiter limiter(c.rate, [&now] { return now; }, [&now](int64_t ns) { now += ns; });
    std::vector<int64_t> ready(c.connections, 0);
    std::vector<std::pair<int64_t, size_t>> received;
    while (now < 30 * kSecond) {
      auto next = std::min_element(ready.begin(), ready.end());
      now = *next;
      received.emplace_back(now, c.chunk);
      limiter.pay(c.chunk);  // moves now on by the wait, as a sleep would
      *next = now;
    }
    const int64_t span = 5 * kSecond;
    const double slack = static_cast<double>(c.connections) * static_cast<double>(c.chunk);
    for (int64_t from = 0; from + span <= 25 * kSecond; from += 250 * kMs) {
      double bytes = 0;
      for (const auto& r : received)
        if (r.first >= from && r.first < from + span) bytes += static_cast<double>(r.second);
      double cap = static_cast<double>(c.rate) * 5;
      EXPECT_LE(bytes, cap + static_cast<double>(c.rate) * kRateLeewayNs / kSecond + slack) << c.connections << " from " << from;
      EXPECT_GE(bytes, cap - slack) << c.connections << " from " << from;
    }
  }
}

// Every chunk reaches the caller's sink before the wait, so progress shows
// what arrived; the limiter is paid for every chunk, the last one too.
TEST(RateLimiter, ClientHandsChunksOnThenPays) {
  BodyServer fake;
  fake.body = std::string(20000, 'x');
  std::vector<size_t> paid;
  size_t seen = 0;
  int64_t now = 0;
  RateLimiter limiter(1000, [&now] { return now; }, [&](int64_t ns) {
    paid.push_back(seen);
    now += ns;
  });
  LimitedHttpClient client(fake, limiter);
  struct CountingSink : HttpSink {
    size_t* seen;
    bool onResponse(int status, bool, int64_t) override { return status == 200; }
    bool onData(const char*, size_t size) override {
      *seen += size;
      return true;
    }
  } sink;
  sink.seen = &seen;
  HttpRequest request;
  client.get(request, sink);
  EXPECT_EQ(seen, 20000u);
  ASSERT_FALSE(paid.empty());
  EXPECT_EQ(paid.back(), 20000u);  // the wait after the last chunk comes after it was handed on
  EXPECT_EQ(now, 20 * kSecond - kRateLeewayNs);
}

}  // namespace

}  // namespace tvl
