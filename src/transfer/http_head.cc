#include "transfer/http_head.h"

#include "transfer/content_length.h"

namespace tvl {


namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

// Digits from pos on; -1 when there are none or they overflow.
int64_t digitsAt(const std::string& s, size_t& pos) {
  size_t start = pos;
  int64_t v = 0;
  for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
    if (v > (INT64_MAX - 9) / 10) return -1;
    v = v * 10 + (s[pos] - '0');
  }
  return pos == start ? -1 : v;
}

}  // namespace

std::vector<std::string> rangeHeaderLines(const HttpRequest& request) {
  std::vector<std::string> lines;
  if (request.rangeFrom <= 0) return lines;
  lines.push_back("Range: bytes=" + std::to_string(request.rangeFrom) + "-");
  if (!request.ifRange.empty()) lines.push_back("If-Range: " + request.ifRange);
  return lines;
}

int64_t parseLength64(const std::string& text) {
  std::string t = trimmed(text);
  size_t pos = 0;
  int64_t v = digitsAt(t, pos);
  return pos == t.size() ? v : -1;
}

bool parseContentRange(const std::string& text, int64_t* first, int64_t* last, int64_t* total) {
  std::string t = trimmed(text);
  if (t.size() < 6 || !sameNoCase(t.substr(0, 5), "bytes") || !isSpace(t[5])) return false;
  size_t pos = 6;
  while (pos < t.size() && isSpace(t[pos])) ++pos;
  int64_t f = digitsAt(t, pos);
  if (f < 0 || pos >= t.size() || t[pos++] != '-') return false;
  int64_t l = digitsAt(t, pos);
  if (l < 0 || pos >= t.size() || t[pos++] != '/') return false;
  int64_t n = -1;
  if (pos < t.size() && t[pos] == '*') {
    ++pos;
  } else {
    n = digitsAt(t, pos);
    if (n < 0) return false;
  }
  if (pos != t.size() || l < f || (n >= 0 && l >= n)) return false;
  *first = f;
  *last = l;
  *total = n;
  return true;
}

void takeHeadField(HttpResponseHead& head, const std::string& name, const std::string& value) {
  std::string n = trimmed(name), v = trimmed(value);
  if (sameNoCase(n, "content-length")) {
    head.hasContentLength = true;
    head.contentLength = parseContentLength(v.c_str());
  } else if (sameNoCase(n, "etag")) {
    head.etag = v;
  } else if (sameNoCase(n, "last-modified")) {
    head.lastModified = v;
  } else if (sameNoCase(n, "content-range")) {
    head.hasContentRange = parseContentRange(v, &head.rangeFirst, &head.rangeLast, &head.rangeTotal);
  }
}

}  // namespace tvl
