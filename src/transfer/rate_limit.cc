#include "transfer/rate_limit.h"

#include <chrono>
#include <thread>

namespace tvl {


namespace {

int64_t steadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class PayingSink : public HttpSink {
 public:
  PayingSink(HttpSink& inner, RateLimiter& limiter) : inner_(inner), limiter_(limiter) {}
  bool onHead(const HttpResponseHead& head) override { return inner_.onHead(head); }
  bool onData(const char* data, size_t size) override {
    bool more = inner_.onData(data, size);
    limiter_.pay(size);  // the bytes came either way
    return more;
  }

 private:
  HttpSink& inner_;
  RateLimiter& limiter_;
};

}  // namespace

RateLimiter::RateLimiter(int64_t bytesPerSecond, Clock clock, Sleep sleep)
    : rate_(bytesPerSecond > 0 ? bytesPerSecond : 1),
      clock_(clock ? std::move(clock) : Clock(steadyNow)),
      sleep_(sleep ? std::move(sleep) : Sleep([](int64_t ns) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
      })) {}

int64_t RateLimiter::book(int64_t now, size_t bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  // A line that was idle (or slower than the cap) saves nothing up beyond
  // the leeway.
  if (!started_ || due_ < now) due_ = now;
  started_ = true;
  // Whole seconds and the rest apart, so that no product can overflow.
  int64_t b = static_cast<int64_t>(bytes);
  due_ += b / rate_ * 1000000000 + b % rate_ * 1000000000 / rate_;
  int64_t wait = due_ - now - kRateLeewayNs;
  return wait > 0 ? wait : 0;
}

void RateLimiter::pay(size_t bytes) {
  int64_t wait = book(clock_(), bytes);
  if (wait > 0) sleep_(wait);
}

HttpResult LimitedHttpClient::get(const HttpRequest& request, HttpSink& sink) {
  PayingSink paying(sink, limiter_);
  HttpRequest paced = request;
  paced.paced = true;
  return inner_.get(paced, paying);
}

}  // namespace tvl
