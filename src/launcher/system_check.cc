#include "launcher/system_check.h"

#include "platform/message_box.h"
#include "platform/process.h"

namespace tvl {


const char kOldWindowsCaption[] = "Incorrect Windows version";
const char kOldWindowsText[] = "Your OS is too old. Needs Windows 98 or higher to run properly";
const char kNoDirectXCaption[] = "DirectX error";
const char kNoDirectXText[] = "Can't initialize DirectX 9.0, make sure that proper version installed to your system";

bool windowsVersionAccepted(uint32_t major, uint32_t minor) { return major > 4 || (major == 4 && minor > 3); }

void refuseToRun(const char* text, const char* caption) {
  platform::messageBox(text, caption, platform::kMbIconError);
  platform::exitNow(0);
}

bool gameNeedsDisplay(const std::string& imageHead) {
  if (imageHead.compare(0, 2, "MZ") == 0) return true;
  static const char* const kGraphicsLibraries[] = {
      "libGL.so", "libGLX", "libEGL.so", "libvulkan.so", "libX11.so", "libxcb.so", "libwayland-client.so",
      "libSDL2", "libSDL3", "libglfw",
  };
  for (const char* lib : kGraphicsLibraries)
    if (imageHead.find(lib) != std::string::npos) return true;
  return false;
}

}  // namespace tvl
