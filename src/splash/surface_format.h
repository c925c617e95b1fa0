// Which in-memory format an image surface takes for a decoded image. Pixel
// formats are the image decoder's codes: index | bits << 8 | flags.
#pragma once

#include <cstdint>

namespace tvl {


namespace pixel_format {
constexpr uint32_t kIndexed = 0x00010000;
constexpr uint32_t kGdi = 0x00020000;
constexpr uint32_t kAlpha = 0x00040000;
constexpr uint32_t k1bppIndexed = 1 | (1 << 8) | kIndexed | kGdi;
constexpr uint32_t k4bppIndexed = 2 | (4 << 8) | kIndexed | kGdi;
constexpr uint32_t k8bppIndexed = 3 | (8 << 8) | kIndexed | kGdi;
constexpr uint32_t k16bppRgb555 = 5 | (16 << 8) | kGdi;
constexpr uint32_t k16bppRgb565 = 6 | (16 << 8) | kGdi;
constexpr uint32_t k24bppRgb = 8 | (24 << 8) | kGdi;
constexpr uint32_t k32bppRgb = 9 | (32 << 8) | kGdi;
constexpr uint32_t k32bppArgb = 10 | (32 << 8) | kAlpha | kGdi | 0x00200000;
}  // namespace pixel_format

struct SurfaceFormat {
  uint32_t pixelFormat;
  int bitsPerPixel;
  bool hasAlpha;
};

// 32-bit RGB by default; a GDI-compatible format is kept as it is; a format
// with alpha becomes 32-bit ARGB (not premultiplied). A GDI bitmap of 16 bits
// without colour masks is 5-5-5, so 5-6-5 images are converted to that
// rather than copied bit for bit into the wrong layout.
SurfaceFormat surfaceFormatFor(uint32_t decodedFormat);

inline int formatBitsPerPixel(uint32_t format) { return static_cast<int>((format >> 8) & 0xFF); }
inline bool formatIsIndexed(uint32_t format) { return (format & pixel_format::kIndexed) != 0; }

}  // namespace tvl
