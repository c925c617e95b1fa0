#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>

#include "platform/disk_space.h"
#include "platform/fs.h"

namespace platform {

namespace {

std::string parentOf(const std::string& path) {
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

}  // namespace

bool diskSpace(const std::string& path, DiskSpace* space) {
  std::string at = nativePath(path);
  while (at.size() > 1 && at.back() == '/') at.pop_back();
  struct stat st;
  for (int up = 0; ::stat(at.c_str(), &st) != 0; ++up) {
    if (at == "/" || at == "." || up > 256) return false;
    at = parentOf(at);
  }
  struct statvfs vfs;
  if (::statvfs(at.c_str(), &vfs) != 0) return false;
  space->freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  space->unitBytes = vfs.f_frsize != 0 ? vfs.f_frsize : 4096;
  // The mount point: the last folder upwards still on the same device.
  char real[PATH_MAX];
  if (!::realpath(at.c_str(), real)) return false;
  std::string mount = real;
  while (mount != "/") {
    std::string up = parentOf(mount);
    struct stat above;
    if (::stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev) break;
    mount = up;
  }
  space->volume = mount;
  return true;
}

}  // namespace platform
