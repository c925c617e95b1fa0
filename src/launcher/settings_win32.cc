#include <windows.h>

#include "launcher/settings.h"

namespace tvl {


namespace {
// One buffer for start-up only; 32 KiB is too much for the stack of a
// worker that may one day call this.
char settingBuffer[0x7FFF];
}  // namespace

std::string readSetting(const std::string& section, const std::string& key, const std::string& defaultValue,
                        const std::string& fileName) {
  settingBuffer[0] = '\0';
  GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), settingBuffer, sizeof settingBuffer,
                           fileName.c_str());
  return std::string(settingBuffer);
}

}  // namespace tvl
