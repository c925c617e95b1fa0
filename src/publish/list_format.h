// Text of the published file lists and the timestamps written into them and
// into the archives. All times are UTC, so the output does not depend on the
// publishing machine's time zone.
#pragma once

#include <cstdint>
#include <string>

namespace publish {

// One entry line: name, release label, date, size, MD5, ended by CR LF.
std::string formatListLine(const std::string& name, const std::string& release, int64_t stamp, uint64_t size,
                           const std::string& md5);

// Why `label` cannot be the second field of a list line, or "" when it can:
// an empty field would vanish between two TABs and shift the fields after it.
std::string releaseLabelProblem(const std::string& label);

// 2024-05-01T12:00:00Z
std::string formatUtc(int64_t seconds);

// Accepts YYYY-MM-DD, YYYY-MM-DDTHH:MM:SS (or a blank for the T), an optional
// trailing Z, or @SECONDS since 1970.
bool parseUtc(const std::string& text, int64_t* seconds);

// MS-DOS date (high word) and time (low word) of a UTC time, clamped to the
// format's range 1980-01-01 .. 2107-12-31; seconds are rounded down to even.
uint32_t dosDateTime(int64_t seconds);

// The time the archives and the list carry for a file: the fixed date when
// one is given, else the file's modification time.
inline int64_t stampOf(int64_t mtimeNs, bool fixed, int64_t fixedStamp) {
  if (fixed) return fixedStamp;
  return mtimeNs >= 0 ? mtimeNs / 1000000000 : -((-mtimeNs + 999999999) / 1000000000);
}

// 1980-01-01T00:00:00Z, the earliest time a zip entry can carry.
constexpr int64_t kDosEpoch = 315532800;

}  // namespace publish
