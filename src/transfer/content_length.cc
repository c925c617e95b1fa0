#include "transfer/content_length.h"

namespace tvl {


int64_t parseContentLength(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // The magnitude, held unsigned so that INT64_MIN's has room.
  constexpr uint64_t kLimit = uint64_t{INT64_MAX} + 1;
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - '0');
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  if (negative) return value >= kLimit ? INT64_MIN : -static_cast<int64_t>(value);
  return value > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(value);
}

}  // namespace tvl
