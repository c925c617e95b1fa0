// How the archive reader opens a zip file: Win32 handles with shared read
// access on Windows, stdio on POSIX.
#pragma once

#include <string>

namespace tvl {


// An unzFile, or nullptr.
void* openZipFile(const std::string& path);

}  // namespace tvl
