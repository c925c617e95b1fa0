// The texts that show how far an update is.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/progress.h"

namespace tvl {


// Totals below this are shown in kilobytes, exactly as always; from here on
// the amounts switch to MB (and to GB from kGigaAmountsFrom) so the text
// stays short (never more than seven digits below the GB range).
constexpr int64_t kMegaAmountsFrom = int64_t{1} << 31;
constexpr int64_t kGigaAmountsFrom = int64_t{1} << 40;

// "<done> / <total> <unit>": both amounts in the unit the total picks,
// kiloName below kMegaAmountsFrom, "MB" or "GB" above; units of 1024,
// truncated toward zero.
std::string amountsPair(int64_t done, int64_t total, const char* kiloName);

// "checking update... files.txt" while a list is fetched (nothing is counted
// then), otherwise "<file>  <done> / <total> KB (<percent>%)".
std::string progressLine(const ProgressSnapshot& progress);

}  // namespace tvl
