// Which failed fetches are worth another attempt, and how long to wait
// before it: exponential back-off with jitter, a bounded number of retries.
//
// Bound: an attempt that gets no response head ends within 35 s (libcurl:
// connect time-out kHttpConnectTimeoutMs = 15 s, then a stall of
// kHttpReceiveTimeoutMs = 20 s; WinINet: the same 35 s as the deadline of its
// send, since Wine ignores the connect time-out). With the default two
// retries, one fetch from a dead server therefore ends within
// 3 x 35 s + 1 s + 2 s = 108 s. Measured: connections refused, about 3 s;
// accepted but never answered, 3 x 20 s + pauses, at most 63 s; unanswered,
// 3 x 15 s + pauses (libcurl), 3 x 35 s + pauses (WinINet under Wine).
// Name resolution is the system's and not counted.
#pragma once

#include <cstdint>
#include <functional>

namespace tvl {


enum class FailureKind {
  kTransient,  // may heal: try again
  kPermanent,  // will not heal: fail now
};

// code is what a failed fetch reports: an HTTP status (400-599), a transport
// code of http.h and its WinINet neighbours (12000-12999), a Winsock code
// that Wine passes on (10000-11999), or a local error (errno, a Windows
// file error). Transient: 408, 429, 5xx, time-outs, failed connections,
// connections closed or reset early, name resolution. Everything else is
// permanent: other statuses, a refused response (no Content-Length, more
// bytes than announced), local file errors.
FailureKind classifyFailure(uint32_t code);

struct RetryPolicy {
  int retries = 2;  // attempts after the first ("download_retries"); 0 = one try
  int firstDelayMs = 1000;
  int maxDelayMs = 8000;
  // An attempt that brought at least this much new body before it failed
  // was progress, not a failure streak: the retries start afresh. A long
  // transfer over a line that drops now and then still completes; a server
  // that never delivers still fails within the bound above.
  int64_t progressBytes = 256 * 1024;
};

// The pause before retry number retry (1 for the first): d = firstDelayMs
// doubled for each earlier retry, at most maxDelayMs; the pause is d/2 plus
// random % (d/2 + 1), so that clients that failed together do not come back
// together.
int retryDelayMs(const RetryPolicy& policy, int retry, uint32_t random);

// The retries of one fetch. Not shared between threads.
class Retrier {
 public:
  using Random = std::function<uint32_t()>;
  // Waits ms milliseconds; false when the wait was cut short because the
  // run is being cancelled.
  using Sleep = std::function<bool(int ms)>;

  Retrier(const RetryPolicy& policy, Random random, Sleep sleep);
  // With a random source seeded from the system and a plain sleep.
  explicit Retrier(const RetryPolicy& policy);

  // After a failed attempt that delivered newBytes of body: true once the
  // pause before the next attempt is over; false when the failure is
  // permanent, the retries are used up, or the pause was cut short.
  bool again(uint32_t code, int64_t newBytes = 0);

  int retriesMade() const { return made_; }  // in all, progress or not
  int lastDelayMs() const { return lastDelay_; }

 private:
  RetryPolicy policy_;
  Random random_;
  Sleep sleep_;
  int streak_ = 0;  // retries since the last progress
  int made_ = 0;
  int lastDelay_ = 0;
};

}  // namespace tvl
