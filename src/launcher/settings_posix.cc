#include <fstream>
#include <iterator>

#include "launcher/profile_reader.h"
#include "launcher/settings.h"

namespace tvl {


std::string readSetting(const std::string& section, const std::string& key, const std::string& defaultValue,
                        const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return profileGetString(nullptr, section, key, defaultValue, kProfileBufferSize);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return profileGetString(&text, section, key, defaultValue, kProfileBufferSize);
}

}  // namespace tvl
