// Whole folders: listing every file below one, holding one for a single
// writer, and making what was written there durable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace platform {

struct ListedFile {
  std::string name;  // relative to the listed folder, "/"-separated
  std::string path;  // where to read it
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970 (UTC)
};

// Every regular file below root, symbolic links (and junctions) followed, in
// no particular order. Special files, unreadable directories and directory
// loops are errors.
bool listFiles(const std::string& root, std::vector<ListedFile>* out, std::string* error);

// Makes what was written below dir durable before a file that refers to it
// is published. Best effort.
void flushFileSystem(const std::string& dir);

// An exclusive lock on a lock file, held until destruction, which deletes
// the file: one holder at a time across processes, and it goes with its
// process. Windows opens the file unshared (deleted on close); POSIX takes
// a flock on it, and a holder that finds the file deleted or replaced
// under its lock tries again.
class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Creates the file when missing and locks it. On failure *heldElsewhere
  // says whether another holder has it; *error says what failed.
  bool acquire(const std::string& path, bool* heldElsewhere, std::string* error);

 private:
  SystemHandle handle_;
  std::string path_;  // POSIX: deleted before the lock is let go
};

}  // namespace platform
