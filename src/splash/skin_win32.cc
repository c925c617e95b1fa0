#include "splash/skin.h"

#include <windows.h>

#include "platform/win32.h"
#include "splash/image_surface_win32.h"

void scanDirectory(SkinPathSet& paths, const std::string& directory, const std::string& pattern) {
  std::string prefix;
  if (!scanPrefix(directory, &prefix)) return;
  WIN32_FIND_DATAA found;
  platform::ScopedFind search(FindFirstFileA((prefix + pattern).c_str(), &found));
  if (!search.valid()) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) paths.insert(prefix + found.cFileName);
  } while (FindNextFileA(search.get(), &found));
}

SkinList loadSkinList() {
  SkinPathSet candidates;
  scanDirectory(candidates, kSkinDirectory, kSkinPattern);
  SkinList skins;
  for (const std::string& path : candidates) {
    ImageSurface surface;
    if (SUCCEEDED(surface.load(path))) skins.push_back(path);
  }
  return skins;
}

void chooseSkin(const SkinList& list) {
  if (list.empty()) return;
  skinPath = pickSkin(list, GetTickCount());
}
