#include <zlib.h>

#include <climits>

#include "platform/crc32.h"

namespace platform {

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
  const Bytef* p = static_cast<const Bytef*>(data);
  uLong c = crc;
  while (size > 0) {
    uInt n = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    c = crc32(c, p, n);
    p += n;
    size -= n;
  }
  return static_cast<uint32_t>(c);
}

}  // namespace platform
