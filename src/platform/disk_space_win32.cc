#include <windows.h>

#include "platform/disk_space.h"

namespace platform {

bool diskSpace(const std::string& path, DiskSpace* space) {
  // The nearest folder that exists: free space is asked of it, so that a
  // volume mounted on a folder answers for itself.
  std::string at = path;
  for (char& c : at)
    if (c == '/') c = '\\';
  DWORD attributes;
  for (int up = 0; (attributes = GetFileAttributesA(at.c_str())) == INVALID_FILE_ATTRIBUTES ||
                   !(attributes & FILE_ATTRIBUTE_DIRECTORY);
       ++up) {
    size_t cut = at.find_last_of('\\');
    if (cut == std::string::npos || up > 256) {
      at = ".";
      break;
    }
    at.erase(cut == 0 ? 1 : cut);
  }
  if (at.empty()) at = ".";
  char full[MAX_PATH * 2];
  DWORD n = GetFullPathNameA(at.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return false;
  std::string dir = full;
  if (dir.back() != '\\') dir += '\\';
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExA(dir.c_str(), &available, &total, &free)) return false;
  char root[MAX_PATH * 2];
  if (!GetVolumePathNameA(dir.c_str(), root, sizeof root)) return false;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  uint64_t unit = 0;
  if (GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    unit = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
  space->volume = root;
  space->freeBytes = available.QuadPart;
  space->unitBytes = unit != 0 ? unit : 4096;
  return true;
}

}  // namespace platform
