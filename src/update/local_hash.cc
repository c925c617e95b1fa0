#include "update/local_hash.h"

#include "base/text.h"
#include "platform/fs.h"
#include "platform/md5.h"
#include "transfer/paths.h"

namespace tvl {


bool acquireCryptProvider(Updater& updater) { return updater.cryptProvider.acquire(); }

void releaseCryptProvider(Updater& updater) { updater.cryptProvider.release(); }

void failCryptProviderForTesting(bool fail) { platform::failMd5ProviderForTesting(fail); }

std::string md5Hex(Updater& updater, const uint8_t* data, size_t size) {
  return platform::md5HexOf(updater.cryptProvider, data, size);
}

bool checkLocalFile(Updater& updater, FileListEntry& entry) {
  // A name that leads out of the program directory is never fetched, so it
  // is never written; it is not read either.
  if (!isSafeRelativePath(entry.directory + entry.name)) return false;
  std::string path = baseDir + entry.directory + entry.name;
  if (!platform::findPath(path)) return true;
  // The exclusive open keeps files in use from being replaced under their
  // users. The launcher's own executable is only ever swapped by renames, and
  // is often held open at this moment (a virus scanner looking at a program
  // that has just started, a second launcher): it is shared.
  bool ownExecutable = equalsNoCase(entry.directory + entry.name, updater.launcherName);
  platform::File file =
      ownExecutable ? platform::File::openSharedRead(path) : platform::File::openExclusiveRead(path);
  if (!file.valid()) return false;
  uint64_t size = 0;
  if (!file.size(&size)) return false;
  if (size != 0) {
    platform::MappedView view = platform::MappedView::map(file, size);
    if (!view.valid()) return false;
    entry.localDigest = md5Hex(updater, view.data(), view.size());
  }
  return entry.localDigest != entry.digest;
}

}  // namespace tvl
