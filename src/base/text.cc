#include "base/text.h"

namespace tvl {


namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string hexOf(const uint8_t* bytes, size_t size, const char* digits) {
  std::string text(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[bytes[i] >> 4];
    text[2 * i + 1] = digits[bytes[i] & 15];
  }
  return text;
}

int lowerHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

size_t findNoCase(const std::string& text, const std::string& needle, size_t start) {
  if (text.empty() || start >= text.size()) return npos;
  if (needle.size() > text.size()) return npos;
  for (size_t i = start; i + needle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && lowerAscii(text[i + k]) == lowerAscii(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return npos;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string intToString(int32_t value) {
  // Work in 64 bits so that the lowest value has a positive counterpart.
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  char buf[16];
  size_t i = sizeof buf;
  do {
    buf[--i] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) buf[--i] = '-';
  return std::string(buf + i, sizeof buf - i);
}

std::string toHexLower(const uint8_t* bytes, size_t size) { return hexOf(bytes, size, "0123456789abcdef"); }

std::string toHexUpper(const uint8_t* bytes, size_t size) { return hexOf(bytes, size, "0123456789ABCDEF"); }

bool parseHexLower(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    int hi = lowerHexDigit(text[2 * i]), lo = lowerHexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

bool parseDecimal(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20 || (text[0] == '0' && text.size() > 1)) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *out = v;
  return true;
}

bool parseSignedDecimal(std::string_view text, int64_t* out) {
  bool negative = !text.empty() && text[0] == '-';
  uint64_t v;
  if (!parseDecimal(negative ? text.substr(1) : text, INT64_MAX, &v)) return false;
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

}  // namespace tvl
