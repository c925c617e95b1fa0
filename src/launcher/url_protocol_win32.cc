#include "launcher/url_protocol.h"

#include <windows.h>

#include "platform/process.h"

namespace tvl {


void registerUrlProtocol() {
  std::string path;
  if (!quotedProgramPath(platform::commandLine(), &path)) return;
  for (const UrlRegistryEntry& e : urlRegistryEntries(path)) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, e.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
      continue;
    if (e.setsValue)
      RegSetValueExA(key, e.valueName.empty() ? nullptr : e.valueName.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(e.data.c_str()), static_cast<DWORD>(e.data.size() + 1));
    RegCloseKey(key);
  }
}

}  // namespace tvl
