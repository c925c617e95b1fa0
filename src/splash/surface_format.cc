#include "splash/surface_format.h"

namespace tvl {


using namespace pixel_format;

SurfaceFormat surfaceFormatFor(uint32_t decoded) {
  if (decoded & kAlpha) return SurfaceFormat{k32bppArgb, 32, true};
  if (decoded == k16bppRgb565) return SurfaceFormat{k16bppRgb555, 16, false};
  if (decoded & kGdi) {
    int bits = formatBitsPerPixel(decoded);
    if (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)
      return SurfaceFormat{decoded, bits, false};
  }
  return SurfaceFormat{k32bppRgb, 32, false};
}

}  // namespace tvl
