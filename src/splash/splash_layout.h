// Where things sit in the splash window and what the progress strips say.
// The window procedure and the painter take every position, size and text
// from here, so the rules can be checked without a screen.
#pragma once

#include <cstdint>
#include <string>

namespace tvl {


struct SplashRect {
  int32_t left, top, right, bottom;  // right and bottom exclusive
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct SplashPoint {
  int32_t x, y;
};

// Fixed areas in client coordinates; the same for every skin.
constexpr SplashRect kCloseBox = {486, 359, 509, 382};
constexpr SplashRect kProgressBar = {27, 361, 449, 375};
constexpr SplashRect kFileLine = {30, 345, 452, 361};
constexpr int32_t kAmountsCentreX = 238;

// COLORREF values (0x00BBGGRR).
constexpr uint32_t kTextColour = 0x00C8C8C8;
constexpr uint32_t kFillColour = 0x00140AC8;
constexpr uint32_t kSeeThroughColour = 0x00FF00FF;

extern const char kCheckingText[];  // "checking update..."

// Width in pixels of the red fill for bytesDone of bytesTotal (total not 0):
// the fraction in single precision times the bar width, truncated, capped at
// the bar width. Never negative.
int32_t progressFillWidth(int64_t bytesDone, int64_t bytesTotal);

// "<done/1024> / <total/1024> kb"; for totals of 2 GiB and more the same in
// MB or GB (see amountsPair).
std::string amountsText(int64_t bytesDone, int64_t bytesTotal);

// Left edge of a text of textWidth pixels centred on the amounts centre.
int32_t amountsTextLeft(int32_t textWidth);

// What the file line shows for the file being fetched. While one of the two
// file lists is fetched it says "checking update..." and the busy cursor is
// shown.
struct FileLine {
  std::string text;
  bool busyCursor;
};
FileLine fileLineFor(const std::string& currentFile);

// Client point of a mouse message: x the low word unsigned, y the high word
// signed.
SplashPoint mousePoint(uint32_t lParam);

// The window's top-left corner that centres width x height on a desktop whose
// rectangle ends at (desktopRight, desktopBottom).
SplashPoint centredOrigin(int32_t desktopRight, int32_t desktopBottom, int32_t width, int32_t height);

}  // namespace tvl
