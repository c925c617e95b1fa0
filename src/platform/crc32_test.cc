#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace platform {

TEST(Crc32, ZipValuesWhateverTheBlocks) {
  EXPECT_EQ(crc32Update(0, "", 0), 0u);
  EXPECT_EQ(crc32Update(0, "123456789", 9), 0xCBF43926u);
  std::string data;
  for (int i = 0; i < 100003; ++i) data += static_cast<char>(i * 131 + (i >> 7));
  const uint32_t whole = crc32Update(0, data.data(), data.size());
  EXPECT_EQ(whole, 0x6C84114Cu) << std::hex << whole;
  for (size_t block : {size_t{1}, size_t{7}, size_t{4096}, size_t{65536}}) {
    uint32_t crc = 0;
    for (size_t at = 0; at < data.size(); at += block) crc = crc32Update(crc, data.data() + at, std::min(block, data.size() - at));
    EXPECT_EQ(crc, whole) << block;
  }
}

}  // namespace platform
