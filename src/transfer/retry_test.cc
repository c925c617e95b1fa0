#include "transfer/retry.h"

#include <gtest/gtest.h>

#include <vector>

#include "transfer/http.h"

namespace tvl {


namespace {

TEST(Retry, TransientAndPermanentFailures) {
  for (uint32_t code : {408u, 429u, 500u, 502u, 503u, 504u, 599u, 12002u, 12007u, 12029u, 12030u, 12031u, 10054u,
                        10060u, 10061u, 11001u, 12157u})
    EXPECT_EQ(classifyFailure(code), FailureKind::kTransient) << code;
  // Statuses that will not change by asking again, a refused response,
  // local file errors (EACCES, ENOSPC, ERROR_DISK_FULL), certificates that
  // failed the checks and a redirect from HTTPS to HTTP.
  for (uint32_t code : {400u, 401u, 403u, 404u, 410u, 416u, 206u, 301u, 600u, 12004u, 12150u, 12152u, 13u, 28u, 112u,
                        0u, 12037u, 12038u, 12040u, 12045u, 12055u, 12056u, 12057u, 12169u, 12170u})
    EXPECT_EQ(classifyFailure(code), FailureKind::kPermanent) << code;
}

TEST(Retry, DelaysDoubleUpToTheCapWithJitter) {
  RetryPolicy p;  // 1 s, doubling, at most 8 s
  struct Case {
    int retry;
    uint32_t random;
    int ms;
  } cases[] = {
      {1, 0, 500},    {1, 500, 1000},  {1, 501, 500},  {2, 0, 1000},   {2, 1000, 2000},
      {3, 7, 2007},   {4, 4000, 8000}, {5, 0, 4000},   {40, 4000, 8000},
  };
  for (const Case& c : cases) EXPECT_EQ(retryDelayMs(p, c.retry, c.random), c.ms) << c.retry << " " << c.random;
  p.firstDelayMs = 0;
  EXPECT_EQ(retryDelayMs(p, 3, 99), 0);
}

struct Recorder {
  std::vector<int> sleeps;
  bool cancel = false;
  Retrier make(const RetryPolicy& p, uint32_t random = 0) {
    return Retrier(
        p, [random] { return random; },
        [this](int ms) {
          sleeps.push_back(ms);
          return !cancel;
        });
  }
};

TEST(Retry, RetriesStopAtTheLimitOrAtAPermanentFailure) {
  RetryPolicy p;
  Recorder r;
  Retrier a = r.make(p);
  EXPECT_TRUE(a.again(503));
  EXPECT_TRUE(a.again(kHttpErrorConnectionAborted));
  EXPECT_FALSE(a.again(503));
  EXPECT_EQ(r.sleeps, (std::vector<int>{500, 1000}));
  EXPECT_EQ(a.retriesMade(), 2);

  Recorder r2;
  Retrier b = r2.make(p);
  EXPECT_FALSE(b.again(404));
  EXPECT_TRUE(r2.sleeps.empty());

  p.retries = 0;  // one try, even after progress
  Recorder r3;
  Retrier c = r3.make(p);
  EXPECT_FALSE(c.again(kHttpErrorTimeout, 10 << 20));
  EXPECT_TRUE(r3.sleeps.empty());

  p.retries = 2;  // a cancelled pause ends the fetch
  Recorder r4;
  r4.cancel = true;
  Retrier d = r4.make(p);
  EXPECT_FALSE(d.again(503));
}

// A line that drops every few megabytes: each attempt that made progress
// starts the retries afresh; one without progress counts.
TEST(Retry, ProgressStartsTheRetriesAfresh) {
  RetryPolicy p;
  Recorder r;
  Retrier a = r.make(p);
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(a.again(kHttpErrorConnectionAborted, 5 << 20)) << i;
  EXPECT_TRUE(a.again(kHttpErrorConnectionAborted, 1000));
  EXPECT_FALSE(a.again(kHttpErrorConnectionAborted, 1000));
  EXPECT_EQ(a.retriesMade(), 21);
  EXPECT_EQ(r.sleeps.back(), 1000);  // the back-off grew again after the last progress
}

// The bound stated for a dead server: every attempt waits out the longest
// an attempt can go without a response head, whatever the jitter.
TEST(Retry, DeadServerBound) {
  const int64_t attempt = kHttpConnectTimeoutMs + kHttpReceiveTimeoutMs;
  for (uint32_t random : {0u, 499u, 1000u, 0x7fffffffu, 0xffffffffu}) {
    Recorder r;
    Retrier a = r.make(RetryPolicy(), random);
    int64_t elapsed = attempt;
    while (a.again(kHttpErrorTimeout)) elapsed += r.sleeps.back() + attempt;
    EXPECT_LE(elapsed, 108000) << random;
    EXPECT_GE(elapsed, 106500) << random;
  }
}

}  // namespace

}  // namespace tvl
