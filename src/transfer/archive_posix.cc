#include "platform/fs.h"
#include "transfer/archive_io.h"
#include "unzip.h"

namespace tvl {


void* openZipFile(const std::string& path) { return unzOpen64(platform::nativePath(path).c_str()); }

}  // namespace tvl
