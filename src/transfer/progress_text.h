// The text of the headless progress line.
#pragma once

#include <string>

#include "transfer/progress.h"

namespace tvl {


// "checking update... files.txt" while a list is fetched (nothing is counted
// then), otherwise "<file>  <done> / <total> KB (<percent>%)".
std::string progressLine(const ProgressSnapshot& progress);

}  // namespace tvl
