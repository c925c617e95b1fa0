#include "splash/image_surface_win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_util.h"

namespace tvl {


namespace {

std::string data(const char* name) { return testutil::sourcePath(std::string("src/splash/testdata/") + name); }

// Row y, column x of the 4 x 3 test picture (see testdata/make_testdata.py).
const COLORREF kPicture[3][4] = {
    {RGB(255, 0, 255), RGB(200, 10, 20), RGB(0, 128, 255), RGB(255, 255, 255)},
    {RGB(0, 0, 0), RGB(12, 34, 56), RGB(250, 240, 230), RGB(1, 2, 3)},
    {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(128, 128, 128)},
};

// The stored colour of a pixel, read from the bits as the surface holds them.
COLORREF storedColour(ImageSurface& s, int x, int y) {
  const uint8_t* row = s.bits() + static_cast<ptrdiff_t>(s.pitch()) * y;
  switch (s.bitsPerPixel()) {
    case 32:
    case 24: {
      const uint8_t* p = row + x * (s.bitsPerPixel() / 8);
      return RGB(p[2], p[1], p[0]);
    }
    case 16: {
      unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      auto expand = [](unsigned c) { return static_cast<BYTE>((c << 3) | (c >> 2)); };
      return RGB(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
    }
    default: {
      int bpp = s.bitsPerPixel();
      int bit = x * bpp;
      unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
      RGBQUAD table[256];
      UINT n = GetDIBColorTable(s.acquireDC(), 0, 256, table);
      s.releaseDC();
      if (index >= n) return CLR_INVALID;
      return RGB(table[index].rgbRed, table[index].rgbGreen, table[index].rgbBlue);
    }
  }
}

bool closeTo(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

}  // namespace

TEST(ImageSurface, FormatsAndStoredColours) {
  struct Case {
    const char* file;
    int bits;
    bool alpha;
    int tolerance;
  } cases[] = {
      {"rgb24.bmp", 24, false, 0},
      {"rgb24.png", 24, false, 0},
      {"pal.png", 4, false, 0},  // 16 colours: stored as 4 bits
      {"pal.gif", 8, false, 0},
      {"rgba.png", 32, true, 0},
      // 16 bits a channel: converted (this decoder gives 64-bit ARGB), and not
      // scaled by its 72 dpi
      {"rgb48_72dpi.png", 32, true, 0},
      // 5-6-5 masks: this decoder gives 32 bits; colours within the lost bits
      {"rgb565.bmp", 0, false, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ImageSurface s;
    ASSERT_EQ(s.load(data(c.file)), S_OK);
    EXPECT_EQ(s.width(), 4);
    EXPECT_EQ(s.height(), 3);
    if (c.bits) {
      EXPECT_EQ(s.bitsPerPixel(), c.bits);
    }
    EXPECT_EQ(s.hasAlpha(), c.alpha);
    EXPECT_LT(s.pitch(), 0);  // bottom-up rows
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        if (c.alpha && x == 3 && y < 2 && c.file[3] == 'a') continue;  // rgba.png: checked below
        EXPECT_TRUE(closeTo(storedColour(s, x, y), kPicture[y][x], c.tolerance))
            << x << "," << y << " got " << std::hex << storedColour(s, x, y) << " want " << kPicture[y][x];
      }
  }
}

TEST(ImageSurface, AlphaKeepsTheStoredColour) {
  ImageSurface s;
  ASSERT_EQ(s.load(data("rgba.png")), S_OK);
  const uint8_t* top = s.bits();
  const uint8_t* second = s.bits() + s.pitch();
  // Fully transparent: the colour stored in the file, not black.
  EXPECT_EQ(storedColour(s, 3, 0), RGB(10, 20, 30));
  EXPECT_EQ(top[3 * 4 + 3], 0);
  // Not premultiplied.
  EXPECT_EQ(storedColour(s, 3, 1), RGB(90, 80, 70));
  EXPECT_EQ(second[3 * 4 + 3], 128);
  EXPECT_EQ(top[0 * 4 + 3], 255);
  // What BitBlt copies are these colour values.
  HDC dc = s.acquireDC();
  EXPECT_EQ(GetPixel(dc, 3, 0), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(200, 10, 20));
  s.releaseDC();
}

TEST(ImageSurface, JpegDecodes) {
  ImageSurface s;
  ASSERT_EQ(s.load(data("photo.jpg")), S_OK);
  EXPECT_EQ(s.width(), 40);
  EXPECT_EQ(s.height(), 30);
  EXPECT_EQ(s.bitsPerPixel(), 24);
}

TEST(ImageSurface, FailuresLeaveItEmpty) {
  testutil::TempDir tmp;
  testutil::writeFile(tmp.file("empty.png"), "");
  for (std::string path : {data("text.png"), data("missing.png"), tmp.file("empty.png"), tmp.path()}) {
    SCOPED_TRACE(path);
    ImageSurface s;
    EXPECT_EQ(s.load(path), E_FAIL);
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    EXPECT_EQ(s.bits(), nullptr);
  }
}

TEST(ImageSurface, ReloadReplacesThePicture) {
  ImageSurface s;
  ASSERT_EQ(s.load(data("photo.jpg")), S_OK);
  ASSERT_EQ(s.load(data("rgb24.png")), S_OK);
  EXPECT_EQ(s.width(), 4);
  EXPECT_EQ(storedColour(s, 1, 0), RGB(200, 10, 20));
  EXPECT_EQ(s.load(data("text.png")), E_FAIL);
  EXPECT_EQ(s.width(), 0);
}

TEST(ImageSurface, AnsiPathIsConvertedForTheDecoder) {
  testutil::TempDir tmp;
  // Cyrillic in code page 1251, accented Latin in 1252: valid ANSI either way.
  std::string dir = tmp.path() + "\\\xC8\xE3\xF0\xFB";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  std::string file = dir + "\\\xF4\xEE\xED.png";
  ASSERT_TRUE(CopyFileA(data("rgb24.png").c_str(), file.c_str(), FALSE));
  ImageSurface s;
  EXPECT_EQ(s.load(file), S_OK);
  EXPECT_EQ(s.width(), 4);
}

TEST(ImageSurface, DecoderRunsWhileASurfaceLives) {
  const long before = ImageSurface::liveCount();
  ASSERT_EQ(before, 0);
  EXPECT_FALSE(ImageSurface::decoderRunning());
  {
    ImageSurface a;
    EXPECT_EQ(ImageSurface::liveCount(), 1);
    EXPECT_FALSE(ImageSurface::decoderRunning());  // started by the first load
    ASSERT_EQ(a.load(data("rgb24.png")), S_OK);
    EXPECT_TRUE(ImageSurface::decoderRunning());
    {
      ImageSurface b;
      ASSERT_EQ(b.load(data("pal.png")), S_OK);
    }
    EXPECT_TRUE(ImageSurface::decoderRunning());  // a still lives
    EXPECT_EQ(ImageSurface::liveCount(), 1);
  }
  EXPECT_EQ(ImageSurface::liveCount(), 0);
  EXPECT_FALSE(ImageSurface::decoderRunning());
  // And it starts again for the next one.
  ImageSurface c;
  EXPECT_EQ(c.load(data("rgb24.png")), S_OK);
}

TEST(ImageSurface, DrawingContextNestsAndIsCached) {
  ImageSurface a, b;
  ASSERT_EQ(a.load(data("rgb24.png")), S_OK);
  ASSERT_EQ(b.load(data("pal.png")), S_OK);
  HDC first = a.acquireDC();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(a.acquireDC(), first);
  a.releaseDC();
  EXPECT_EQ(GetPixel(first, 1, 0), RGB(200, 10, 20));  // still held once
  // Leave some state behind; it must not reach the next user.
  HFONT font = CreateFontA(30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
  HGDIOBJ defaultFont = SelectObject(first, font);
  SetTextColor(first, RGB(1, 2, 3));
  a.releaseDC();

  HDC again = b.acquireDC();
  EXPECT_EQ(again, first);  // reused from the cache
  EXPECT_EQ(GetCurrentObject(again, OBJ_FONT), defaultFont);
  EXPECT_NE(GetTextColor(again), RGB(1, 2, 3));
  EXPECT_EQ(GetPixel(again, 0, 0), RGB(255, 0, 255));  // b's picture is selected
  b.releaseDC();
  DeleteObject(font);
}

TEST(ImageSurface, MoreReleasedContextsThanSlotsAreDeleted) {
  ImageSurface s[6];
  HDC dcs[6];
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(s[i].load(data("rgb24.png")), S_OK);
    dcs[i] = s[i].acquireDC();
  }
  for (int i = 0; i < 6; ++i) s[i].releaseDC();
  // Four stay cached (still valid contexts), two are gone.
  int valid = 0;
  for (HDC dc : dcs)
    if (GetObjectType(dc) == OBJ_MEMDC) ++valid;
  EXPECT_EQ(valid, 4);
}

}  // namespace tvl
