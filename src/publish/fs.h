// The few file-system operations the publisher needs beyond <cstdio>, one
// backend per platform (fs_posix.cc, fs_win32.cc). Paths use "/" on both;
// Windows accepts it. Failures come back as false plus a message that names
// the path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

struct SourceFile {
  std::string name;  // relative, "/"-separated
  std::string path;  // where to read it
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970 (UTC)
};

enum class PathKind { Missing, File, Directory, Other };

struct PathInfo {
  PathKind kind = PathKind::Missing;
  uint64_t size = 0;
  int64_t mtimeNs = 0;
};

// Follows symbolic links.
PathInfo pathInfo(const std::string& path);

// Every regular file below `root`, symbolic links followed, in no particular
// order. Special files, unreadable directories and directory loops are errors.
bool listFiles(const std::string& root, std::vector<SourceFile>* out, std::string* error);

// Creates `path` and its missing parents; an existing directory is fine.
bool makeDirectories(const std::string& path, std::string* error);

// Moves `from` onto `to` in one step, replacing `to`: a reader sees the old
// file or the new one, never a part.
bool replaceFile(const std::string& from, const std::string& to, std::string* error);

// Creates `path` holding `bytes`, readable and writable by its owner only
// (POSIX mode 0600; Windows: a protected ACL for the current user). Fails,
// touching nothing, when anything exists at `path`.
bool createPrivateFile(const std::string& path, const std::string& bytes, std::string* error);

// Deletes a file; one that is already gone is fine.
bool removeFile(const std::string& path, std::string* error);

// Deletes a directory if it is empty; says whether it did.
bool removeEmptyDirectory(const std::string& path);

// Absolute form of `path` with symbolic links resolved as far as it exists.
std::string absolutePath(const std::string& path);

// Makes what was written below `dir` durable before a file that refers to it
// is published. Best effort.
void flushFileSystem(const std::string& dir);

// Holds the output folder for one publisher run at a time.
class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
  bool acquire(const std::string& dir, std::string* error);

 private:
  intptr_t handle_ = -1;
};

// Whether progress can be redrawn in place.
bool stderrIsTerminal();

// The text of the platform's last error (errno).
std::string lastErrorText();

inline std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

}  // namespace publish
