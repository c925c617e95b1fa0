#include "splash/surface_format.h"

#include <gtest/gtest.h>

namespace tvl {


TEST(SurfaceFormat, Table) {
  using namespace pixel_format;
  const uint32_t k16bppGray = 4 | (16 << 8) | 0x00100000;
  const uint32_t k16bppArgb1555 = 7 | (16 << 8) | kAlpha | kGdi;
  const uint32_t k32bppPargb = 11 | (32 << 8) | kAlpha | 0x00080000 | kGdi;
  const uint32_t k48bppRgb = 12 | (48 << 8) | 0x00100000;
  const uint32_t k64bppArgb = 13 | (64 << 8) | kAlpha | 0x00200000 | 0x00100000;
  struct Case {
    uint32_t decoded;
    uint32_t surface;
    int bits;
    bool alpha;
  } cases[] = {
      {k1bppIndexed, k1bppIndexed, 1, false},
      {k4bppIndexed, k4bppIndexed, 4, false},
      {k8bppIndexed, k8bppIndexed, 8, false},
      {k16bppRgb555, k16bppRgb555, 16, false},
      {k16bppRgb565, k16bppRgb555, 16, false},  // converted, not copied into a 5-5-5 bitmap
      {k24bppRgb, k24bppRgb, 24, false},
      {k32bppRgb, k32bppRgb, 32, false},
      {k32bppArgb, k32bppArgb, 32, true},
      {k32bppPargb, k32bppArgb, 32, true},
      {k16bppArgb1555, k32bppArgb, 32, true},
      {k64bppArgb, k32bppArgb, 32, true},
      {k16bppGray, k32bppRgb, 32, false},
      {k48bppRgb, k32bppRgb, 32, false},
      {0, k32bppRgb, 32, false},
  };
  for (const Case& c : cases) {
    SurfaceFormat f = surfaceFormatFor(c.decoded);
    EXPECT_EQ(f.pixelFormat, c.surface) << std::hex << c.decoded;
    EXPECT_EQ(f.bitsPerPixel, c.bits) << std::hex << c.decoded;
    EXPECT_EQ(f.hasAlpha, c.alpha) << std::hex << c.decoded;
  }
}

}  // namespace tvl
