// The file-system calls of the launcher and the publisher.
//
// Paths are narrow strings with "\" or "/" as separator; the POSIX backend
// turns every "\" into "/" (names read from a directory are kept as they
// are). The launcher's calls report truth values: callers that the
// installation rules tell to ignore a result simply do. Calls that take a
// std::string* error describe a failure there, naming the path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "platform/handle.h"

namespace platform {

// Windows file attribute bits, also used on POSIX (where only read-only and
// directory have a meaning).
enum : uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
};

// 100-nanosecond units since 1601-01-01 UTC (a Windows FILETIME).
using FileTime = uint64_t;

// The path as the system's calls take it ("\" becomes "/" on POSIX).
std::string nativePath(const std::string& path);

// Moves a stdio stream to byte offset from its start, past 4 GiB too (the
// C library's fseek takes a long, 32 bits on Windows).
bool seekFile(std::FILE* file, uint64_t offset);

// True when a file or directory of exactly that name exists. Wildcards are
// never expanded: a name with "*" or "?" is looked up literally, and on
// Windows, where no file can be named so, it is not found.
bool findPath(const std::string& path);

// Attribute bits of path, or false when they cannot be read (nothing there).
bool getAttributes(const std::string& path, uint32_t* attributes);

// An open file; closed by the destructor. Move-only.
class File {
 public:
  File() = default;

  // An existing regular file for reading, shared with nobody: fails while
  // another process has the file open (POSIX: holds a lock on it).
  // Directories never open.
  static File openExclusiveRead(const std::string& path);

  // An existing regular file for reading, shared with other readers and with
  // renames (as a running program's file is): fails only while another
  // process holds it exclusively or for writing (POSIX: holds an exclusive
  // lock on it). Directories never open.
  static File openSharedRead(const std::string& path);

  // Creates (or truncates) path for writing, shared with nobody, with the
  // given attribute bits (read-only, hidden, system, archive; 0 = normal).
  static File createForWrite(const std::string& path, uint32_t attributes);

  bool valid() const { return handle_.valid(); }
  bool size(uint64_t* bytes) const;
  bool write(const void* data, size_t count);
  // Reads up to count bytes from offset; *got is 0 at the end of the file.
  bool readAt(uint64_t offset, void* data, size_t count, size_t* got);
  // Waits until what was written is on the disk (fsync, FlushFileBuffers).
  bool flush();
  // A time of 0 leaves that time unchanged. POSIX has no creation time.
  bool setTimes(FileTime creation, FileTime access, FileTime write);
  bool close() { return handle_.reset(); }
  intptr_t handle() const { return handle_.get(); }

 private:
  friend class MappedOutputFile;
  explicit File(intptr_t handle) : handle_(handle) {}
  SystemHandle handle_;
};

// A read-only view of a whole file; unmapped by the destructor. Move-only.
class MappedView {
 public:
  MappedView() = default;
  ~MappedView();
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  // Maps the first size bytes of file (size > 0); invalid on failure.
  static MappedView map(const File& file, uint64_t size);

  bool valid() const { return data_ != nullptr; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(data_); }
  size_t size() const { return size_; }

 private:
  friend class MappedOutputFile;
  // The first size bytes of file (opened for reading and writing), mapped so
  // that writes reach the file.
  static MappedView mapWritable(const File& file, uint64_t size);
  void reset();
  void unmap();  // the view only
  void* data_ = nullptr;
  size_t size_ = 0;
  SystemHandle mapping_;  // Windows' mapping object; POSIX needs none
};

// A new file of a size known up front, written through memory: what is
// written goes to the file through the system's cache, whose pages the
// system may write out and drop whenever it needs the memory. So a file of
// any size costs no more private memory than a small one. Move-only.
class MappedOutputFile {
 public:
  MappedOutputFile() = default;

  // Creates (or truncates) path, shared with nobody, reserves size bytes
  // (> 0; they read as zeros) on disk and maps them for reading and
  // writing. Invalid on failure, with *error naming path and the cause (a
  // full disk shows here, never later as a fault in the mapping).
  static MappedOutputFile create(const std::string& path, uint64_t size, std::string* error);

  bool valid() const { return view_.valid(); }
  uint8_t* data() const { return static_cast<uint8_t*>(view_.data_); }
  size_t size() const { return view_.size(); }
  // Unmaps and closes; the file may be moved or deleted only afterwards.
  // False when the system reported a failure. The destructor does the same.
  bool close();

 private:
  // Closes a file create() made but could not finish and deletes it.
  MappedOutputFile abandon(const std::string& path);
  File file_;
  MappedView view_;
};

// The three file times of path (POSIX reports the status-change time as
// creation time); false when they cannot be read.
bool getFileTimes(const std::string& path, FileTime* creation, FileTime* access, FileTime* write);

// Renames from onto to, replacing an existing file (not a directory).
bool moveReplace(const std::string& from, const std::string& to);
bool deleteFile(const std::string& path);
// Deletes a file even when it is read-only, hidden or system (clears those
// first); true when it is gone, also when it was not there.
bool removeFile(const std::string& path, std::string* error = nullptr);
// Clears read-only, hidden and system so that the file can be replaced.
bool setNormalAttributes(const std::string& path);
// Sets the attribute bits (read-only, hidden, system, archive); POSIX keeps
// only read-only, as the owner's write permission.
bool setAttributes(const std::string& path, uint32_t attributes);
// Creates one directory level; false also when it exists already.
bool createDirectory(const std::string& path);

// Creates path and its missing parents; an existing directory is fine.
bool makeDirectories(const std::string& path, std::string* error);
// Deletes a directory if it is empty; says whether it did.
bool removeEmptyDirectory(const std::string& path);

// Moves from onto to in one step, replacing a file there: a reader sees the
// old file or the new one, never a part. Unlike moveReplace, on Windows the
// call returns once the move is on disk.
bool replaceFile(const std::string& from, const std::string& to, std::string* error);

// Makes to a second name of the file at from (a hard link); fails, touching
// nothing, where the file system has none or the two lie on different ones.
bool hardLink(const std::string& from, const std::string& to, std::string* error);

// Waits until the bytes of the file at path are on the disk (fsync;
// FlushFileBuffers on Windows).
bool flushFile(const std::string& path, std::string* error);

// replaceFile that returns once the new folder entry is on the disk
// (MOVEFILE_WRITE_THROUGH on Windows, an fsync of to's folder on POSIX). For
// what must survive a power cut: flush from's bytes first, or the entry can
// outlive them and name an empty file.
bool moveDurably(const std::string& from, const std::string& to, std::string* error);

// Writes bytes to path + ".tmp", flushes them to the disk and moves the file
// onto path with moveDurably, so a killed writer or a power cut leaves the
// old file or the new one. On failure the old file is left as it was and the
// temporary file removed.
bool writeFileReplacing(const std::string& path, const std::string& bytes, std::string* error);

// Creates path holding bytes, readable and writable by its owner only (POSIX
// mode 0600; Windows: a protected access list for the current user). Fails,
// touching nothing, when anything exists at path.
bool createPrivateFile(const std::string& path, const std::string& bytes, std::string* error);

enum class PathKind { Missing, File, Directory, Other };

struct PathInfo {
  PathKind kind = PathKind::Missing;
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970 (UTC)
};

// What path names, symbolic links followed.
PathInfo pathInfo(const std::string& path);

// What tells one version of a file from another without reading it: size,
// modification time and the file system's identity of the file (volume
// serial number and file index on Windows, device and inode on POSIX). A
// file replaced by a rename gets a new identity even when size and time
// are kept.
struct FileIdentity {
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // nanoseconds since 1970 (UTC)
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& o) const {
    return size == o.size && mtimeNs == o.mtimeNs && volume == o.volume && index == o.index;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The identity of the regular file at path (links followed), without
// opening it for reading; false when nothing is there or it is not a
// regular file.
bool fileIdentity(const std::string& path, FileIdentity* out);

// The identities of the regular files directly in dir, by name as the
// directory lists them, from one pass over the directory: far cheaper than a
// fileIdentity call per file where opening a file is costly (Wine). Links
// and what is not a regular file are left out. False when the directory
// cannot be listed this way.
bool listIdentities(const std::string& dir, std::map<std::string, FileIdentity>* out);

// Absolute form of path with symbolic links resolved as far as it exists;
// "/" as separator.
std::string absolutePath(const std::string& path);

// dir + separator + name.
inline std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

// The C library's text for errno (after fopen, fwrite and the like).
std::string errnoText();

// Calendar fields taken as local time, converted to UTC; false when the
// fields are not a valid date and time.
bool localTimeToFileTime(int year, int month, int day, int hour, int minute, int second, FileTime* out);

}  // namespace platform
