#include "splash/splash_layout.h"

#include "base/text.h"
#include "transfer/download.h"
#include "transfer/progress_text.h"

namespace tvl {


const char kCheckingText[] = "checking update...";

namespace {

bool equalsNoCase(const std::string& a, const char* b) {
  std::string needle(b);
  return a.size() == needle.size() && findNoCase(a, needle, 0) == 0;
}

}  // namespace

int32_t progressFillWidth(int64_t bytesDone, int64_t bytesTotal) {
  const int32_t barWidth = kProgressBar.width();
  float fraction = static_cast<float>(static_cast<double>(bytesDone) / static_cast<double>(bytesTotal));
  double fill = static_cast<double>(fraction) * static_cast<double>(barWidth);
  // Compare before converting: a huge fraction has no int value.
  if (!(fill < barWidth)) return barWidth;
  if (fill <= 0) return 0;
  return static_cast<int32_t>(fill);
}

std::string amountsText(int64_t bytesDone, int64_t bytesTotal) {
  return amountsPair(bytesDone, bytesTotal, "kb");
}

int32_t amountsTextLeft(int32_t textWidth) { return kAmountsCentreX - textWidth / 2; }

FileLine fileLineFor(const std::string& currentFile) {
  if (isListFile(currentFile))
    return FileLine{kCheckingText, true};
  return FileLine{currentFile, false};
}

SplashPoint mousePoint(uint32_t lParam) {
  return SplashPoint{static_cast<int32_t>(lParam & 0xFFFF), static_cast<int32_t>(static_cast<int16_t>(lParam >> 16))};
}

SplashPoint centredOrigin(int32_t desktopRight, int32_t desktopBottom, int32_t width, int32_t height) {
  return SplashPoint{(desktopRight - width) / 2, (desktopBottom - height) / 2};
}

}  // namespace tvl
