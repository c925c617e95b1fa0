#include "publish/list_format.h"

#include <cstdio>
#include <cstdlib>

namespace publish {
namespace {

struct Civil {
  int64_t year;
  int month, day, hour, minute, second;
};

// Days since 1970-01-01 <-> proleptic Gregorian date (H. Hinnant's algorithm).
Civil civilFromSeconds(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t rest = seconds - days * 86400;
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  Civil c;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

int64_t secondsFromCivil(int64_t y, int m, int d, int hh, int mm, int ss) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + hh * 3600 + mm * 60 + ss;
}

bool digits(const std::string& s, size_t at, size_t n, int* out) {
  if (at + n > s.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::string formatListLine(const std::string& name, const std::string& release, int64_t stamp, uint64_t size,
                           const std::string& md5) {
  return name + '\t' + release + '\t' + formatUtc(stamp) + '\t' + std::to_string(size) + '\t' + md5 + "\r\n";
}

std::string releaseLabelProblem(const std::string& label) {
  if (label.empty()) return "the release label must not be empty";
  for (char c : label)
    if (c == '\t' || c == '\r' || c == '\n') return "the release label must not contain TAB, CR or LF";
  return "";
}

std::string formatUtc(int64_t seconds) {
  Civil c = civilFromSeconds(seconds);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(c.year), c.month, c.day,
                c.hour, c.minute, c.second);
  return buf;
}

bool parseUtc(const std::string& text, int64_t* seconds) {
  if (!text.empty() && text[0] == '@') {
    if (text.size() < 2) return false;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str() + 1, &end, 10);
    if (*end != '\0') return false;
    *seconds = v;
    return true;
  }
  std::string t = text;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
  int y, mo, d, hh = 0, mi = 0, ss = 0;
  if (!digits(t, 0, 4, &y) || t.size() < 10 || t[4] != '-' || !digits(t, 5, 2, &mo) || t[7] != '-' ||
      !digits(t, 8, 2, &d))
    return false;
  if (t.size() != 10) {
    if (t.size() != 19 || (t[10] != 'T' && t[10] != 't' && t[10] != ' ') || !digits(t, 11, 2, &hh) || t[13] != ':' ||
        !digits(t, 14, 2, &mi) || t[16] != ':' || !digits(t, 17, 2, &ss))
      return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || hh > 23 || mi > 59 || ss > 59) return false;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap)) return false;
  *seconds = secondsFromCivil(y, mo, d, hh, mi, ss);
  return true;
}

uint32_t dosDateTime(int64_t seconds) {
  const int64_t kLast = secondsFromCivil(2107, 12, 31, 23, 59, 58);
  if (seconds < kDosEpoch) seconds = kDosEpoch;
  if (seconds > kLast) seconds = kLast;
  Civil c = civilFromSeconds(seconds);
  uint32_t date = static_cast<uint32_t>((c.year - 1980) << 9 | c.month << 5 | c.day);
  uint32_t time = static_cast<uint32_t>(c.hour << 11 | c.minute << 5 | c.second / 2);
  return date << 16 | time;
}

}  // namespace publish
