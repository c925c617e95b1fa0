// Reading update archives (zip) and writing their members into the program
// directory: sanitised item names, Windows attributes and times, targets
// resolved against a base directory, directories created on the way.
//
// A member is written to a temporary name beside its target and renamed over
// the target only once all of its data was read, inflated and matched its
// CRC-32, so a damaged archive never leaves a truncated file in place of an
// installed one. Targets that would land outside the base directory, or whose
// full path does not fit 260 characters, are refused and nothing is written.
//
// Thread safety: a reader belongs to one thread; the update worker uses one
// archive at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/path_rules.h"

namespace tvl {


// Result codes of the archive operations.
enum : uint32_t {
  kArchiveOk = 0,
  kArchiveCannotCreate = 0x200,     // archive or target cannot be opened/created; unsafe target
  kArchiveWriteFailed = 0x400,      // writing the target failed
  kArchiveHeaderMismatch = 0x700,   // local header disagrees with the central record
  kArchiveReadFailed = 0x800,       // reading the archive failed
  kArchiveEncrypted = 0x1000,       // encrypted member (no password is ever given)
  kArchiveBadArguments = 0x10000,   // no reader, or index out of range
  kArchiveDataError = 0x5000000,    // inflating failed, data ended early, or CRC-32 mismatch
};

// Longest path (base directory plus target) the installation writes, in
// characters, terminator included, as the classic Windows calls allow.
constexpr size_t kMaxInstallPath = 260;

struct ArchiveItem {
  int32_t index = 0;          // for index -1: the number of items
  std::string name;           // the whole member name, after sanitiseItemName
  uint32_t attributes = 0;    // Windows attribute bits (platform::kAttr*)
  uint64_t accessTime = 0;    // file times, 100 ns since 1601 UTC; 0 = unknown
  uint64_t creationTime = 0;
  uint64_t writeTime = 0;
  uint64_t compressedSize = 0;    // as the central directory says (zip64 where needed)
  uint64_t uncompressedSize = 0;
};

struct ArchiveReader;

// Opens a zip archive for reading; nullptr when the file cannot be opened or
// is not a readable archive. The base directory starts as the working
// directory.
ArchiveReader* openArchive(const std::string& path);

// Fills item for index (0 .. count-1), or the count for index -1.
uint32_t getArchiveItem(ArchiveReader* reader, int32_t index, ArchiveItem& item);

// Directory that relative targets are resolved against; "\" is appended
// unless dir ends with "\" or "/". A directory that does not leave room for a
// target is refused (bad arguments) and extraction refuses to write until a
// usable one is set.
uint32_t setArchiveBaseDir(ArchiveReader* reader, const std::string& dir);

// Writes item index to base directory + target (see the file comment).
uint32_t extractArchiveItem(ArchiveReader* reader, int32_t index, const std::string& target);

// True when the file is a zip archive whose every member reads to its end
// and matches its CRC-32 (a body assembled from several transfers is proved
// whole this way before it is unpacked).
bool archiveIsIntact(const std::string& path);

// Closes the archive and frees reader.
uint32_t closeArchive(ArchiveReader* reader);

// Creates root when missing, then each level of dir below it, top down, each
// only when missing. An empty root stands for the working directory.
void ensureDirectoryChain(const std::string& root, const std::string& dir);

// Windows attributes of a member from its external attributes and the host
// byte of version-made-by: DOS, NTFS and VFAT hosts store DOS bits, the rest
// Unix modes.
uint32_t itemAttributes(uint32_t externalAttributes, uint32_t versionMadeBy);

// UTC file time of a DOS date (high 16 bits) and time (low 16 bits) taken as
// local time; 0 when the fields are not a valid date and time.
uint64_t dosTimeToFileTime(uint32_t dosDateTime);

// Applies the first "UT" (extended timestamp) block of a local extra field to
// item's write, access and creation times.
void applyExtendedTimestamp(const uint8_t* extra, size_t size, ArchiveItem& item);

}  // namespace tvl
