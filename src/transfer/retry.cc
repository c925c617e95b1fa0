#include "transfer/retry.h"

#include <chrono>
#include <memory>
#include <random>
#include <thread>

namespace tvl {


FailureKind classifyFailure(uint32_t code) {
  if (code == 408 || code == 429 || (code >= 500 && code <= 599)) return FailureKind::kTransient;
  switch (code) {
    case 12002:  // ERROR_INTERNET_TIMEOUT
    case 12007:  // ERROR_INTERNET_NAME_NOT_RESOLVED: the resolver may be out of reach with the link
    case 12029:  // ERROR_INTERNET_CANNOT_CONNECT
    case 12030:  // ERROR_INTERNET_CONNECTION_ABORTED, also a body cut short
    case 12031:  // ERROR_INTERNET_CONNECTION_RESET
    case 12157:  // ERROR_INTERNET_SECURITY_CHANNEL_ERROR: a handshake cut short, not a certificate's verdict
    case 10050:  // WSAENETDOWN
    case 10051:  // WSAENETUNREACH
    case 10052:  // WSAENETRESET
    case 10053:  // WSAECONNABORTED
    case 10054:  // WSAECONNRESET
    case 10060:  // WSAETIMEDOUT
    case 10061:  // WSAECONNREFUSED
    case 10064:  // WSAEHOSTDOWN
    case 10065:  // WSAEHOSTUNREACH
    case 11001:  // WSAHOST_NOT_FOUND
    case 11002:  // WSATRY_AGAIN
      return FailureKind::kTransient;
    default:
      return FailureKind::kPermanent;
  }
}

int retryDelayMs(const RetryPolicy& policy, int retry, uint32_t random) {
  int64_t d = policy.firstDelayMs > 0 ? policy.firstDelayMs : 0;
  for (int i = 1; i < retry && d < policy.maxDelayMs; ++i) d *= 2;
  if (d > policy.maxDelayMs) d = policy.maxDelayMs;
  int64_t half = d / 2;
  return static_cast<int>(half + random % static_cast<uint64_t>(d - half + 1));
}

Retrier::Retrier(const RetryPolicy& policy, Random random, Sleep sleep)
    : policy_(policy), random_(std::move(random)), sleep_(std::move(sleep)) {}

Retrier::Retrier(const RetryPolicy& policy)
    : Retrier(
          policy,
          [engine = std::make_shared<std::mt19937>(std::random_device{}())] { return static_cast<uint32_t>((*engine)()); },
          [](int ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return true;
          }) {}

bool Retrier::again(uint32_t code, int64_t newBytes) {
  if (classifyFailure(code) == FailureKind::kPermanent) return false;
  if (policy_.progressBytes > 0 && newBytes >= policy_.progressBytes) streak_ = 0;
  if (streak_ >= policy_.retries) return false;
  ++streak_;
  ++made_;
  lastDelay_ = retryDelayMs(policy_, streak_, random_());
  return sleep_(lastDelay_);
}

}  // namespace tvl
