#include "update/local_hash.h"

#include "platform/fs.h"
#include "transfer/paths.h"

std::string md5Hex(Updater& updater, const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> digest;
  if (!md5Digest(updater.cryptProvider, data, size, digest)) return std::string();
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(digest.size() * 2);
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool checkLocalFile(Updater& updater, FileListEntry& entry) {
  // A name that leads out of the program directory is never fetched, so it
  // is never written; it is not read either.
  if (!isSafeRelativePath(entry.directory + entry.name)) return false;
  std::string path = baseDir + entry.directory + entry.name;
  if (!platform::findPath(path)) return true;
  platform::File file = platform::File::openExclusiveRead(path);
  if (!file.valid()) return false;
  uint64_t size = 0;
  if (!file.size(&size)) return false;
  // Sizes are 32-bit in the lists and in the hash call: a file this large is
  // not what any list describes, and hashing a prefix could match wrongly.
  if (size > UINT32_MAX) return true;
  if (size != 0) {
    platform::MappedView view = platform::MappedView::map(file, size);
    if (!view.valid()) return false;
    entry.localDigest = md5Hex(updater, view.data(), static_cast<uint32_t>(view.size()));
  }
  return entry.localDigest != entry.digest;
}
