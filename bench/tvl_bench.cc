// Benchmark driver: runs the launcher's own code paths on prepared data so
// that the bench/*.sh scripts can time them against the plain tools.
//   tvl_bench hash <tree> <list>       check every entry of list below tree
//   tvl_bench extract <zip> <outdir>   unpack every item below outdir
//   tvl_bench sha256 <file>            SHA-256 of a file, as signed releases check it
// Prints what it did; the timing is done by the calling script.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "platform/process.h"
#include "release/sha256.h"
#include "transfer/archive.h"
#include "transfer/paths.h"
#include "update/updater.h"
#include "update/file_list.h"
#include "update/local_hash.h"

using namespace tvl;

namespace {

int hashTree(const std::string& tree, const std::string& list) {
  if (!platform::setCurrentDirectory(tree)) return 2;
  ConnectionSettings settings;
  Updater updater(settings, nullptr);
  if (!acquireCryptProvider(updater)) return 3;
  loadFileList(updater, updater.updateSource, list, "", true);
  size_t fetch = 0;
  for (FileListEntry& e : updater.entries) {
    e.needsDownload = checkLocalFile(updater, e);
    fetch += e.needsDownload;
  }
  releaseCryptProvider(updater);
  std::printf("entries %zu fetch %zu bytes %lld\n", updater.entries.size(), fetch,
              static_cast<long long>(sumDownloadSizes(updater.entries)));
  return 0;
}

int extract(const std::string& zip, const std::string& outDir) {
  ArchiveReader* r = openArchive(zip);
  if (!r) return 2;
  setArchiveBaseDir(r, outDir);
  ArchiveItem item;
  getArchiveItem(r, -1, item);
  int32_t count = item.index, failed = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (getArchiveItem(r, i, item) != kArchiveOk || extractArchiveItem(r, i, item.name) != kArchiveOk) ++failed;
  }
  closeArchive(r);
  std::printf("items %d failed %d\n", count, failed);
  return failed ? 1 : 0;
}

int sha256(const std::string& path) {
  release::Digest d;
  uint64_t size = 0;
  std::string error;
  if (!release::sha256File(path, &d, &size, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%s  %llu\n", toHexLower(d.data(), d.size()).c_str(), static_cast<unsigned long long>(size));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hash") == 0) return hashTree(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "sha256") == 0) return sha256(argv[2]);
  std::fprintf(stderr, "usage: tvl_bench hash TREE LIST | extract ZIP OUTDIR | sha256 FILE\n");
  return 2;
}
