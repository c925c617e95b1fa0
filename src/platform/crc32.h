// The CRC-32 of zip archives, continued over consecutive blocks (start with
// 0). Natively libdeflate's (carry-less multiply where the CPU has it,
// several times zlib's speed), on Windows zlib's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

uint32_t crc32Update(uint32_t crc, const void* data, size_t size);

}  // namespace platform
