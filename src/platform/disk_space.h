// Free space on the volume that holds a path: what an update checks before
// it fetches anything.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct DiskSpace {
  // The volume's root as the user knows it: "C:\" (or a folder a volume is
  // mounted on) on Windows, the mount point on POSIX. Two paths on the same
  // volume give the same text.
  std::string volume;
  uint64_t freeBytes = 0;  // what this user may still write
  uint64_t unitBytes = 0;  // the allocation unit: every file takes whole units
};

// The volume of path, or of its nearest existing parent when path does not
// exist yet. False when the system cannot tell.
bool diskSpace(const std::string& path, DiskSpace* space);

// True for the system's codes of a full disk: ENOSPC (28, also what the C
// library sets on Windows), ERROR_DISK_FULL (112), ERROR_HANDLE_DISK_FULL (39).
inline bool isDiskFullCode(uint32_t code) { return code == 28 || code == 112 || code == 39; }

// The code of a write to path that failed with code: ENOSPC when the volume
// has less than a megabyte left, whatever the C library made of it (Wine's
// gives EINVAL at times), else code itself.
uint32_t writeFailureCode(uint32_t code, const std::string& path);

}  // namespace platform
