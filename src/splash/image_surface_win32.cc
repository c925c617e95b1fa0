#include "splash/image_surface_win32.h"

#include <gdiplus.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "splash/surface_format.h"

namespace tvl {


namespace gp = Gdiplus;
namespace gpf = Gdiplus::DllExports;

namespace {

struct Decoder {
  CRITICAL_SECTION lock;
  ULONG_PTR token = 0;
  long liveSurfaces = 0;
  Decoder() { InitializeCriticalSection(&lock); }
};

// Never destroyed: surfaces may still be released while the process exits.
Decoder& decoder() {
  static Decoder* d = new Decoder;
  return *d;
}

class Locked {
 public:
  Locked() { EnterCriticalSection(&decoder().lock); }
  ~Locked() { LeaveCriticalSection(&decoder().lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

bool startDecoder() {
  Locked l;
  Decoder& d = decoder();
  if (d.token) return true;
  gp::GdiplusStartupInput input;
  input.GdiplusVersion = 1;
  input.DebugEventCallback = nullptr;
  input.SuppressBackgroundThread = FALSE;
  input.SuppressExternalCodecs = FALSE;
  ULONG_PTR token = 0;
  if (gp::GdiplusStartup(&token, &input, nullptr) != gp::Ok) return false;
  d.token = token;
  return true;
}

constexpr int kCachedContexts = 4;
std::atomic<HDC> contextCache[kCachedContexts] = {};

HDC takeCachedContext() {
  for (auto& slot : contextCache)
    if (HDC dc = slot.exchange(nullptr)) return dc;
  return CreateCompatibleDC(nullptr);
}

void returnContext(HDC dc) {
  // Swap it into each slot in turn; whatever comes out goes on to the next.
  for (auto& slot : contextCache) {
    dc = slot.exchange(dc);
    if (!dc) return;
  }
  DeleteDC(dc);
}

std::wstring widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

}  // namespace

ImageSurface::ImageSurface() {
  Locked l;
  ++decoder().liveSurfaces;
}

ImageSurface::~ImageSurface() {
  clear();
  Locked l;
  Decoder& d = decoder();
  if (--d.liveSurfaces == 0 && d.token) {
    gp::GdiplusShutdown(d.token);
    d.token = 0;
  }
}

long ImageSurface::liveCount() {
  Locked l;
  return decoder().liveSurfaces;
}

bool ImageSurface::decoderRunning() {
  Locked l;
  return decoder().token != 0;
}

void ImageSurface::clear() {
  if (dc_) {
    dcUses_ = 1;
    releaseDC();
  }
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  bits_ = nullptr;
  width_ = height_ = pitch_ = bitsPerPixel_ = 0;
  hasAlpha_ = false;
}

HRESULT ImageSurface::load(const std::string& path) {
  clear();
  if (!startDecoder()) return E_FAIL;

  std::wstring wide = widen(path);
  gp::GpBitmap* decoded = nullptr;
  if (gpf::GdipCreateBitmapFromFile(wide.c_str(), &decoded) != gp::Ok || !decoded) return E_FAIL;
  struct Dispose {
    gp::GpBitmap* image;
    ~Dispose() { gpf::GdipDisposeImage(image); }
  } dispose{decoded};

  UINT width = 0, height = 0;
  gp::PixelFormat decodedFormat = 0;
  if (gpf::GdipGetImageWidth(decoded, &width) != gp::Ok || gpf::GdipGetImageHeight(decoded, &height) != gp::Ok ||
      gpf::GdipGetImagePixelFormat(decoded, &decodedFormat) != gp::Ok || width == 0 || height == 0 ||
      width > 0x7FFF || height > 0x7FFF)
    return E_FAIL;
  const SurfaceFormat format = surfaceFormatFor(static_cast<uint32_t>(decodedFormat));

  DibInfo info;
  std::memset(&info, 0, sizeof info);
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = static_cast<LONG>(width);
  info.header.biHeight = static_cast<LONG>(height);  // bottom-up rows
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(format.bitsPerPixel);
  info.header.biCompression = BI_RGB;
  void* base = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &base, nullptr, 0);
  if (!bitmap || !base) {
    if (bitmap) DeleteObject(bitmap);
    return E_FAIL;
  }
  const int stride = static_cast<int>(((width * static_cast<UINT>(format.bitsPerPixel) + 31) / 32) * 4);
  bitmap_ = bitmap;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  bitsPerPixel_ = format.bitsPerPixel;
  hasAlpha_ = format.hasAlpha;
  pitch_ = -stride;
  bits_ = static_cast<uint8_t*>(base) + static_cast<size_t>(stride) * (height - 1);

  if (formatIsIndexed(static_cast<uint32_t>(decodedFormat))) {
    INT size = 0;
    gpf::GdipGetImagePaletteSize(decoded, &size);
    std::vector<uint8_t> buffer;
    if (size >= static_cast<INT>(sizeof(gp::ColorPalette))) buffer.resize(static_cast<size_t>(size));
    if (buffer.empty()) return E_OUTOFMEMORY;
    auto* palette = reinterpret_cast<gp::ColorPalette*>(buffer.data());
    if (gpf::GdipGetImagePalette(decoded, palette, size) != gp::Ok) return E_OUTOFMEMORY;
    UINT count = palette->Count;
    if (count > 256) count = 256;
    if (count > (static_cast<UINT>(size) - offsetof(gp::ColorPalette, Entries)) / sizeof(gp::ARGB))
      return E_OUTOFMEMORY;
    RGBQUAD colours[256];
    for (UINT i = 0; i < count; ++i) {
      gp::ARGB c = palette->Entries[i];
      colours[i].rgbRed = static_cast<BYTE>(c >> 16);
      colours[i].rgbGreen = static_cast<BYTE>(c >> 8);
      colours[i].rgbBlue = static_cast<BYTE>(c);
      colours[i].rgbReserved = 0;  // the palette's alpha is dropped
    }
    SetDIBColorTable(acquireDC(), 0, count, colours);
    releaseDC();
  }

  if (format.pixelFormat == static_cast<uint32_t>(decodedFormat)) {
    gp::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    gp::BitmapData data;
    if (gpf::GdipBitmapLockBits(decoded, &all, gp::ImageLockModeRead, decodedFormat, &data) != gp::Ok)
      return E_OUTOFMEMORY;
    const size_t rowBytes = (static_cast<size_t>(width) * static_cast<size_t>(format.bitsPerPixel) + 7) / 8;
    for (UINT y = 0; y < height; ++y)
      std::memcpy(bits_ + static_cast<ptrdiff_t>(pitch_) * y,
                  static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(data.Stride) * y, rowBytes);
    gpf::GdipBitmapUnlockBits(decoded, &data);
  } else {
    // Let the decoder convert by drawing into a bitmap over our own pixels.
    // Copy mode keeps each colour as stored instead of blending it with the
    // zeroed target, and the explicit size keeps an image whose resolution
    // is not the screen's from being scaled.
    gp::GpBitmap* target = nullptr;
    gpf::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), pitch_,
                                  static_cast<gp::PixelFormat>(format.pixelFormat), bits_, &target);
    if (target) {
      gp::GpGraphics* graphics = nullptr;
      gpf::GdipGetImageGraphicsContext(target, &graphics);
      if (graphics) {
        gpf::GdipSetCompositingMode(graphics, gp::CompositingModeSourceCopy);
        gpf::GdipDrawImageRectI(graphics, decoded, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
        gpf::GdipDeleteGraphics(graphics);
      }
      gpf::GdipDisposeImage(target);
    }
  }
  return S_OK;
}

HDC ImageSurface::acquireDC() {
  if (dc_) {
    ++dcUses_;
    return dc_;
  }
  HDC dc = takeCachedContext();
  if (!dc) return nullptr;
  // Saved so that release leaves a cached context as it was found: the
  // previous bitmap back in, and no font, colour or mode of ours.
  savedDC_ = SaveDC(dc);
  if (bitmap_) SelectObject(dc, bitmap_);
  dc_ = dc;
  dcUses_ = 1;
  return dc_;
}

void ImageSurface::releaseDC() {
  if (!dc_ || --dcUses_ > 0) return;
  RestoreDC(dc_, savedDC_);
  returnContext(dc_);
  dc_ = nullptr;
  savedDC_ = 0;
}

}  // namespace tvl
