#include "launcher/startup.h"

#include "launcher/command_line.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace tvl {


const char kPathTooLongCaption[] = "TervalisOnline2D";

// Paths this long no longer fit the classic Windows limits.
constexpr size_t kLongPath = 255;

std::string pathTooLongText(size_t length) {
  return "The game folder path is too long (" + intToString(static_cast<int32_t>(length)) +
         " characters).\nPlease move the game to a folder with a shorter path.";
}

std::string installDirOf(const std::string& modulePath, char separator) {
  size_t cut = modulePath.rfind(separator);
  return cut == std::string::npos ? std::string() : modulePath.substr(0, cut + 1);
}

void enterInstallDir() {
  std::string module = platform::modulePath();
  std::string dir = installDirOf(module, platform::pathSeparator());
  if (platform::setCurrentDirectory(dir)) return;
  if (module.size() >= kLongPath) {
    platform::messageBox(pathTooLongText(module.size()), kPathTooLongCaption, platform::kMbIconError);
    platform::exitNormally(1);
  }
  // Otherwise relative paths resolve against the inherited directory.
}

}  // namespace tvl
