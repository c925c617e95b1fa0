// Files too large for launchers that read sizes as signed 32-bit numbers.
// They are listed in "files-large.txt", beside "files.txt" and zipped the
// same way (a zip archive holding one member "files-large.txt"), in the same
// line format. Launchers before it never fetch that list, so they never see
// such a file and cannot install it cut short; a server without the list
// holds no such file.
#pragma once

#include <cstdint>

namespace release {

constexpr char kLargeListName[] = "files-large.txt";

// The largest file, and served archive, an older launcher handles: a larger
// one, or one served larger, goes to the large list.
constexpr uint64_t kMaxSmallFileSize = 2147483647;

}  // namespace release
