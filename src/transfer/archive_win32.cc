#include <windows.h>

#include "transfer/archive_io.h"
#include "unzip.h"
// After unzip.h, which brings the declarations it builds on.
#include "iowin32.h"

namespace tvl {


void* openZipFile(const std::string& path) {
  zlib_filefunc64_def io;
  fill_win32_filefunc64A(&io);
  return unzOpen2_64(path.c_str(), &io);
}

}  // namespace tvl
