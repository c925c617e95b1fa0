#include "transfer/archive.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/crc32.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "transfer/archive_io.h"
#include "transfer/paths.h"
#include "unzip.h"

namespace tvl {


namespace {

constexpr size_t kBufferSize = 16384;
// Stored members are copied in blocks that stay in the CPU's cache between
// the read, the CRC and the write: with 256 KiB blocks the kernel's copy into
// fresh page-cache pages took over twice as long as with 32 KiB (bench/large.sh).
constexpr size_t kStoredBlock = 32 << 10;
constexpr uint32_t kFlagEncrypted = 0x1;
constexpr uint16_t kExtendedTimestampTag = 0x5455;  // "UT"
constexpr int64_t kUnixEpochSeconds = 11644473600LL;  // 1601 to 1970

// The temporary name a member is written to when its own ".tvltmp" sibling
// would not fit the path limit.
const char kFallbackTempName[] = "~tvlextract.tmp";

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isAbsolute(const std::string& path) {
  return (!path.empty() && isSeparator(path[0])) || (path.size() > 1 && path[1] == ':');
}


}  // namespace

struct ArchiveReader {
  unzFile zip = nullptr;
  int32_t count = 0;
  int32_t position = 0;  // entry the zip reader stands on; count when unknown
  bool memberOpen = false;

  int32_t cachedIndex = -1;
  ArchiveItem cached;
  uint32_t cachedFlags = 0;
  uint64_t cachedSize = 0;  // uncompressed, 64-bit
  uint64_t cachedPacked = 0;
  uint32_t cachedMethod = 0;
  uint32_t cachedCrc = 0;

  std::string path;
  std::string baseDir;
  bool baseDirUsable = false;
  std::vector<char> buffer;  // allocated at the first extraction

  void closeMember() {
    if (memberOpen) unzCloseCurrentFile(zip);
    memberOpen = false;
  }
};

namespace {

void assignBaseDir(ArchiveReader& r, const std::string& dir) {
  r.baseDir = dir;
  if (r.baseDir.empty() || !isSeparator(r.baseDir.back())) r.baseDir += '\\';
  // Leave room for at least a one-character target and the terminator.
  r.baseDirUsable = r.baseDir.size() + 2 <= kMaxInstallPath;
}

uint32_t positionOn(ArchiveReader& r, int32_t index) {
  if (index < r.position) {
    if (unzGoToFirstFile(r.zip) != UNZ_OK) {
      r.position = r.count;
      return kArchiveReadFailed;
    }
    r.position = 0;
  }
  while (r.position < index) {
    if (unzGoToNextFile(r.zip) != UNZ_OK) {
      r.position = r.count;
      return kArchiveReadFailed;
    }
    ++r.position;
  }
  return kArchiveOk;
}

// Reads the entry the zip reader stands on into the cache.
uint32_t readCurrentItem(ArchiveReader& r, int32_t index) {
  r.cachedIndex = -1;
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(r.zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return kArchiveReadFailed;
  // The whole name, however long: cutting it could make a different name
  // look like the launcher's own executable.
  std::vector<char> name(info.size_filename + 1, '\0');
  if (unzGetCurrentFileInfo64(r.zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
      UNZ_OK)
    return kArchiveReadFailed;

  // Opening the member checks its local header against the central record
  // and is the only way to reach the local extra field.
  int rc = unzOpenCurrentFile(r.zip);
  if (rc == UNZ_BADZIPFILE) return kArchiveHeaderMismatch;
  if (rc != UNZ_OK) return kArchiveReadFailed;
  int extraSize = unzGetLocalExtrafield(r.zip, nullptr, 0);
  std::vector<uint8_t> extra(extraSize > 0 ? static_cast<size_t>(extraSize) : 0);
  bool extraOk = extraSize >= 0;
  if (extraOk && !extra.empty())
    extraOk = unzGetLocalExtrafield(r.zip, extra.data(), static_cast<unsigned>(extra.size())) == extraSize;
  unzCloseCurrentFile(r.zip);
  if (!extraOk) return kArchiveReadFailed;

  ArchiveItem item;
  item.index = index;
  item.name = sanitiseItemName(std::string(name.data(), info.size_filename));
  item.attributes = itemAttributes(static_cast<uint32_t>(info.external_fa), static_cast<uint32_t>(info.version));
  uint64_t dos = dosTimeToFileTime(static_cast<uint32_t>(info.dosDate));
  item.accessTime = item.creationTime = item.writeTime = dos;
  applyExtendedTimestamp(extra.data(), extra.size(), item);
  item.compressedSize = info.compressed_size;
  item.uncompressedSize = info.uncompressed_size;

  r.cached = item;
  r.cachedIndex = index;
  r.cachedFlags = static_cast<uint32_t>(info.flag);
  r.cachedSize = info.uncompressed_size;
  r.cachedPacked = info.compressed_size;
  r.cachedMethod = static_cast<uint32_t>(info.compression_method);
  r.cachedCrc = static_cast<uint32_t>(info.crc);
  return kArchiveOk;
}

uint32_t loadItem(ArchiveReader& r, int32_t index) {
  uint32_t rc = positionOn(r, index);
  if (rc != kArchiveOk) {
    r.cachedIndex = -1;
    return rc;
  }
  if (r.cachedIndex == index) return kArchiveOk;
  return readCurrentItem(r, index);
}

// Streams the open member into file; the member is closed on return.
uint32_t copyMember(ArchiveReader& r, platform::File& file) {
  if (r.buffer.empty()) r.buffer.resize(kBufferSize);
  uint32_t result = kArchiveOk;
  uint64_t written = 0;
  for (;;) {
    int n = unzReadCurrentFile(r.zip, r.buffer.data(), static_cast<unsigned>(r.buffer.size()));
    if (n < 0) {
      result = kArchiveDataError;
      break;
    }
    if (n == 0) {
      // The reader stops at the announced size; anything less is damage.
      if (written != r.cachedSize) result = kArchiveDataError;
      break;
    }
    if (!file.write(r.buffer.data(), static_cast<size_t>(n))) {
      result = kArchiveWriteFailed;
      break;
    }
    written += static_cast<uint64_t>(n);
  }
  r.memberOpen = false;
  // A damaged member can read to its end and only fail the CRC-32 at close.
  int closeRc = unzCloseCurrentFile(r.zip);
  if (result == kArchiveOk && closeRc != UNZ_OK) result = kArchiveDataError;
  return result;
}

// A stored member straight from the archive file, a large block at a time:
// the zip reader copies stored bytes one by one out of 16 KiB reads, which
// took a third of a large install. The CRC-32 is checked as it would be.
uint32_t copyStoredMember(ArchiveReader& r, platform::File& file) {
  const uint64_t start = unzGetCurrentFileZStreamPos64(r.zip);
  r.closeMember();
  platform::File in = platform::File::openSharedRead(r.path);
  if (start == 0 || !in.valid()) return kArchiveReadFailed;
  std::vector<char> block(kStoredBlock);
  uint32_t crc = 0;
  for (uint64_t done = 0; done < r.cachedSize;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), r.cachedSize - done));
    size_t got = 0;
    if (!in.readAt(start + done, block.data(), want, &got)) return kArchiveReadFailed;
    if (got == 0) return kArchiveDataError;  // the archive ends inside the member
    crc = platform::crc32Update(crc, block.data(), got);
    if (!file.write(block.data(), got)) return kArchiveWriteFailed;
    done += got;
  }
  return crc == r.cachedCrc ? kArchiveOk : kArchiveDataError;
}

void discard(const std::string& path) {
  platform::setNormalAttributes(path);
  platform::deleteFile(path);
}

}  // namespace

ArchiveReader* openArchive(const std::string& path) {
  unzFile zip = openZipFile(path);
  if (!zip) return nullptr;
  unz_global_info64 info;
  if (unzGetGlobalInfo64(zip, &info) != UNZ_OK) {
    unzClose(zip);
    return nullptr;
  }
  auto* r = new ArchiveReader;
  r->zip = zip;
  r->count = info.number_entry > static_cast<ZPOS64_T>(std::numeric_limits<int32_t>::max())
                 ? std::numeric_limits<int32_t>::max()
                 : static_cast<int32_t>(info.number_entry);
  r->position = 0;  // the zip reader starts on the first entry
  r->path = path;
  assignBaseDir(*r, platform::currentDirectory());
  return r;
}

uint32_t getArchiveItem(ArchiveReader* reader, int32_t index, ArchiveItem& item) {
  if (!reader) {
    item.index = 0;
    item.name.clear();
    return kArchiveBadArguments;
  }
  if (index == -1) {
    item = ArchiveItem();
    item.index = reader->count;
    return kArchiveOk;
  }
  if (index < -1 || index >= reader->count) return kArchiveBadArguments;
  reader->closeMember();
  uint32_t rc = loadItem(*reader, index);
  if (rc == kArchiveOk) item = reader->cached;
  return rc;
}

uint32_t setArchiveBaseDir(ArchiveReader* reader, const std::string& dir) {
  if (!reader) return kArchiveBadArguments;
  assignBaseDir(*reader, dir);
  return reader->baseDirUsable ? kArchiveOk : kArchiveBadArguments;
}

uint32_t extractArchiveItem(ArchiveReader* reader, int32_t index, const std::string& target) {
  if (!reader) return kArchiveBadArguments;
  reader->closeMember();
  if (index < 0 || index >= reader->count) return kArchiveBadArguments;
  uint32_t rc = loadItem(*reader, index);
  if (rc != kArchiveOk) return rc;
  const ArchiveItem& item = reader->cached;

  // Targets come from the server's file list: nothing may land outside the
  // base directory, and nothing is cut to fit.
  if (!reader->baseDirUsable || isAbsolute(target) || !isSafeRelativePath(target)) return kArchiveCannotCreate;
  const std::string& base = reader->baseDir;

  if (item.attributes & platform::kAttrDirectory) {
    if (base.size() + target.size() >= kMaxInstallPath) return kArchiveCannotCreate;
    ensureDirectoryChain(base, target);
    return kArchiveOk;
  }

  size_t cut = target.find_last_of("\\/");
  std::string dirPart = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  std::string filePart = cut == std::string::npos ? target : target.substr(cut + 1);
  std::string path = base + dirPart + filePart;
  if (filePart.empty() || path.size() >= kMaxInstallPath) return kArchiveCannotCreate;
  if (reader->cachedFlags & kFlagEncrypted) return kArchiveEncrypted;

  std::string temp = path + ".tvltmp";
  if (temp.size() >= kMaxInstallPath) temp = base + kFallbackTempName;
  ensureDirectoryChain(base, dirPart);
  discard(temp);  // a leftover of an interrupted run, possibly read-only
  platform::File file = platform::File::createForWrite(temp, item.attributes);
  if (!file.valid()) return kArchiveCannotCreate;

  int openRc = unzOpenCurrentFile(reader->zip);
  if (openRc != UNZ_OK) {
    file.close();
    discard(temp);
    return openRc == UNZ_BADZIPFILE ? kArchiveHeaderMismatch : kArchiveReadFailed;
  }
  reader->memberOpen = true;
  // Sizes that disagree are damage the zip reader reports.
  bool stored = reader->cachedMethod == 0 && reader->cachedPacked == reader->cachedSize;
  rc = stored ? copyStoredMember(*reader, file) : copyMember(*reader, file);
  if (rc == kArchiveOk) file.setTimes(item.creationTime, item.accessTime, item.writeTime);
  if (!file.close() && rc == kArchiveOk) rc = kArchiveWriteFailed;
  if (rc != kArchiveOk) {
    discard(temp);
    return rc;
  }

  // A read-only target must not block its replacement; if the replacement
  // fails anyway (the file is in use), the target keeps its attributes.
  uint32_t oldAttributes = 0;
  bool hadTarget = platform::getAttributes(path, &oldAttributes);
  platform::setNormalAttributes(path);
  if (!platform::moveReplace(temp, path)) {
    discard(temp);
    if (hadTarget && !(oldAttributes & platform::kAttrDirectory)) platform::setAttributes(path, oldAttributes);
    return kArchiveCannotCreate;
  }
  return kArchiveOk;
}

uint32_t closeArchive(ArchiveReader* reader) {
  if (!reader) return kArchiveBadArguments;
  reader->closeMember();
  unzClose(reader->zip);
  delete reader;
  return kArchiveOk;
}

void ensureDirectoryChain(const std::string& root, const std::string& dir) {
  uint32_t attributes;
  if (!root.empty() && !platform::getAttributes(root, &attributes)) platform::createDirectory(root);
  if (dir.empty()) return;
  size_t cut = dir.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) ensureDirectoryChain(root, dir.substr(0, cut));
  std::string path = root + dir;
  if (!platform::getAttributes(path, &attributes)) platform::createDirectory(path);
}

uint32_t itemAttributes(uint32_t externalAttributes, uint32_t versionMadeBy) {
  uint32_t host = (versionMadeBy >> 8) & 0xFF;
  if (host == 0 || host == 7 || host == 11 || host == 14)
    return externalAttributes & (platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem |
                                 platform::kAttrDirectory | platform::kAttrArchive);
  uint32_t a = platform::kAttrArchive;
  if (externalAttributes & 0x40000000u) a |= platform::kAttrDirectory;  // S_IFDIR in the high half
  if (!(externalAttributes & 0x00800000u)) a |= platform::kAttrReadOnly;  // owner may not write
  return a;
}

uint64_t dosTimeToFileTime(uint32_t dosDateTime) {
  uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  platform::FileTime t = 0;
  if (!platform::localTimeToFileTime(1980 + static_cast<int>(date >> 9), static_cast<int>((date >> 5) & 15),
                                     static_cast<int>(date & 31), static_cast<int>(time >> 11),
                                     static_cast<int>((time >> 5) & 63), static_cast<int>((time & 31) * 2), &t))
    return 0;
  return t;
}

void applyExtendedTimestamp(const uint8_t* extra, size_t size, ArchiveItem& item) {
  size_t i = 0;
  while (size - i >= 5) {
    uint16_t tag = static_cast<uint16_t>(extra[i] | extra[i + 1] << 8);
    size_t length = static_cast<size_t>(extra[i + 2] | extra[i + 3] << 8);
    const uint8_t* data = extra + i + 4;
    size_t available = std::min(length, size - i - 4);
    if (tag == kExtendedTimestampTag) {
      if (available < 1) return;
      uint8_t flags = data[0];
      size_t offset = 1;
      auto take = [&](uint64_t& field) {
        if (offset + 4 > available) return;
        uint32_t raw = static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
                       static_cast<uint32_t>(data[offset + 2]) << 16 | static_cast<uint32_t>(data[offset + 3]) << 24;
        int64_t seconds = static_cast<int32_t>(raw);
        field = static_cast<uint64_t>((seconds + kUnixEpochSeconds) * 10000000);
        offset += 4;
      };
      if (flags & 1) take(item.writeTime);
      if (flags & 2) take(item.accessTime);
      if (flags & 4) take(item.creationTime);
      return;
    }
    if (length > size - i - 4) return;
    i += 4 + length;
  }
}

bool archiveIsIntact(const std::string& path) {
  unzFile zip = openZipFile(path);
  if (!zip) return false;
  bool intact = true;
  std::vector<char> buffer(64 * 1024);
  for (int status = unzGoToFirstFile(zip); intact && status == UNZ_OK; status = unzGoToNextFile(zip)) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      intact = false;
      break;
    }
    int got;
    while ((got = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    }
    // The CRC-32 is checked only when the member is closed.
    if (unzCloseCurrentFile(zip) != UNZ_OK || got < 0) intact = false;
  }
  unzClose(zip);
  return intact;
}

}  // namespace tvl
