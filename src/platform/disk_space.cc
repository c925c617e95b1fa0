#include "platform/disk_space.h"

namespace platform {

uint32_t writeFailureCode(uint32_t code, const std::string& path) {
  DiskSpace space;
  if (code == 0 || isDiskFullCode(code) || !diskSpace(path, &space) || space.freeBytes >= (1u << 20)) return code;
  return 28;
}

}  // namespace platform
