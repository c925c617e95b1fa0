#include "launcher/update_end.h"

#include <gtest/gtest.h>

namespace tvl {


namespace {

// Needs round up, free space rounds down: a box never shows room that is
// not there, nor a need smaller than the real one.
TEST(UpdateEnd, MegabytesRoundTowardsCaution) {
  struct Case {
    uint64_t bytes;
    const char* up;
    const char* down;
  } cases[] = {
      {0, "0.0 MB", "0.0 MB"},
      {1, "0.1 MB", "0.0 MB"},
      {1048576, "1.0 MB", "1.0 MB"},
      {1048577, "1.1 MB", "1.0 MB"},
      {1048576 + 104858, "1.2 MB", "1.1 MB"},
      {1048576 + 104857, "1.1 MB", "1.0 MB"},
      {5ull << 40, "5242880.0 MB", "5242880.0 MB"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(megabytesText(c.bytes, true), c.up) << c.bytes;
    EXPECT_EQ(megabytesText(c.bytes, false), c.down) << c.bytes;
  }
}

}  // namespace

}  // namespace tvl
