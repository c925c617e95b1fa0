#include <libdeflate.h>

#include "platform/crc32.h"

namespace platform {

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) { return libdeflate_crc32(crc, data, size); }

}  // namespace platform
