#include "publish/md5_portable.h"

#include "publish/md5.h"

#include <cstring>

namespace publish {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

const int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

}  // namespace

void PortableMd5::reset() {
  a_ = 0x67452301;
  b_ = 0xefcdab89;
  c_ = 0x98badcfe;
  d_ = 0x10325476;
  length_ = 0;
  buffered_ = 0;
}

void PortableMd5::block(const unsigned char* p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load32(p + 4 * i);
  uint32_t a = a_, b = b_, c = c_, d = d_;
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) & 15;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) & 15;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) & 15;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kT[i] + m[g], kS[i]);
    a = t;
  }
  a_ += a;
  b_ += b;
  c_ += c;
  d_ += d;
}

void PortableMd5::update(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  length_ += size;
  if (buffered_ > 0) {
    size_t take = 64 - buffered_ < size ? 64 - buffered_ : size;
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    size -= take;
    if (buffered_ < 64) return;
    block(buffer_);
    buffered_ = 0;
  }
  for (; size >= 64; p += 64, size -= 64) block(p);
  std::memcpy(buffer_, p, size);
  buffered_ = size;
}

void PortableMd5::finish(unsigned char digest[16]) {
  uint64_t bits = length_ * 8;
  unsigned char pad[72] = {0x80};
  size_t padLen = (buffered_ < 56 ? 56 : 120) - buffered_;
  for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<unsigned char>(bits >> (8 * i));
  update(pad, padLen + 8);
  const uint32_t words[4] = {a_, b_, c_, d_};
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 4; ++i) digest[4 * w + i] = static_cast<unsigned char>(words[w] >> (8 * i));
  reset();
}

}  // namespace publish

namespace publish {

std::string toHexUpper(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace publish
