// An image file decoded into an in-memory DIB section, with a GDI drawing
// context to draw into it and copy from it.
//
// Surfaces are used on the main thread. What they share process-wide is
// thread-safe all the same: the count of live surfaces and the decoder's
// start-up token sit under one critical section (the decoder runs while a
// surface lives), and up to four spare drawing contexts are kept in slots
// that are taken and returned by atomic exchange.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tvl {


class ImageSurface {
 public:
  ImageSurface();
  ~ImageSurface();
  ImageSurface(const ImageSurface&) = delete;
  ImageSurface& operator=(const ImageSurface&) = delete;

  // Decodes the file (path in the ANSI code page). S_OK, E_FAIL (decoder
  // not started, not an image, no bitmap) or E_OUTOFMEMORY (palette or
  // pixels unavailable; the bitmap then stays, every pixel zero).
  HRESULT load(const std::string& path);

  int width() const { return width_; }
  int height() const { return height_; }
  int bitsPerPixel() const { return bitsPerPixel_; }
  bool hasAlpha() const { return hasAlpha_; }
  // Bytes from one row to the next; negative for bottom-up rows.
  int pitch() const { return pitch_; }
  // The top row's first byte, or null while empty.
  const uint8_t* bits() const { return bits_; }

  // A drawing context with the bitmap selected. Nested acquisitions return
  // the same context; each needs its releaseDC.
  HDC acquireDC();
  void releaseDC();

  // Live surfaces in the process (for tests and the decoder's lifetime).
  static long liveCount();
  static bool decoderRunning();

 private:
  void clear();

  HBITMAP bitmap_ = nullptr;
  uint8_t* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int pitch_ = 0;
  int bitsPerPixel_ = 0;
  bool hasAlpha_ = false;
  HDC dc_ = nullptr;
  int dcUses_ = 0;
  int savedDC_ = 0;
};

}  // namespace tvl
