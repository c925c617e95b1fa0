// A cap on the bytes every transfer of a run receives together
// ("download_limit_kbps"): one budget shared by all connections, not one per
// connection.
//
// The budget is a virtual clock (the time at which the bytes received so
// far would have arrived at the cap). Each chunk, once received, moves it on
// by the chunk's time at the cap; the receiving thread then waits until the
// clock is no more than kRateLeewayNs ahead of real time. So over any span
// of time at most the cap times the span, plus the leeway's worth and one
// chunk per connection, gets through; a thread that waits reads nothing from
// its socket, and the server's sending slows to match. Waiting threads are
// served in the order they came.
//
// Thread safety: pay() may be called from any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "transfer/http.h"

namespace tvl {


// How far a quiet line may run ahead of the cap: short, so that no span of
// a few seconds sees much more than the cap; long enough that the
// scheduler's wake-up delays do not cost throughput.
constexpr int64_t kRateLeewayNs = 50 * 1000 * 1000;

// "download_limit_kbps" counts kilobytes of 1024 bytes, as the progress
// text does; 0 is no cap.
constexpr int64_t kRateUnitBytes = 1024;

class RateLimiter {
 public:
  using Clock = std::function<int64_t()>;      // monotonic nanoseconds
  using Sleep = std::function<void(int64_t)>;  // waits that many nanoseconds

  // bytesPerSecond > 0. Without a clock and sleep, the steady clock and a
  // plain sleep.
  explicit RateLimiter(int64_t bytesPerSecond, Clock clock = nullptr, Sleep sleep = nullptr);

  // Accounts for bytes just received; returns once they fit the cap.
  void pay(size_t bytes);

  // The arithmetic of pay(): books bytes received at now and returns how
  // long the receiver must wait (0 when it need not).
  int64_t book(int64_t now, size_t bytes);

 private:
  const int64_t rate_;
  Clock clock_;
  Sleep sleep_;
  std::mutex lock_;
  bool started_ = false;
  int64_t due_ = 0;  // when the bytes booked so far are paid for at the cap
};

// An HttpClient whose bodies all pay into one RateLimiter before the next
// chunk is read. The head and every chunk reach the caller's sink as they
// come (progress stays live); only the next read waits.
class LimitedHttpClient : public HttpClient {
 public:
  LimitedHttpClient(HttpClient& inner, RateLimiter& limiter) : inner_(inner), limiter_(limiter) {}
  HttpResult get(const HttpRequest& request, HttpSink& sink) override;

 private:
  HttpClient& inner_;
  RateLimiter& limiter_;
};

}  // namespace tvl
