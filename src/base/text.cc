#include "base/text.h"

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
