// The archive reader over arbitrary files: open, list and extract every item
// under its own name, sanitised by the reader as for an update, below a
// scratch folder. Nothing may crash, overrun or land outside that folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "transfer/archive.h"

using namespace tvl;

namespace {

namespace fs = std::filesystem;

// A folder of this process alone: the archive at its top, the extraction
// base a chain of one-letter levels below. A target climbs one level per
// three characters ("../") and base plus target stay below kMaxInstallPath,
// so the chain is deep enough that any climb out of the base ends inside the
// folder, where check() sees it. Removed again when the fuzzer exits.
struct Scratch {
  fs::path root = fs::temp_directory_path() / ("tvl-archive-fuzz-" + std::to_string(getpid()));
  fs::path archive = root / "in.zip";
  fs::path base = root;
  std::set<fs::path> chain;

  Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
    size_t levels = (kMaxInstallPath - root.string().size()) / 5 + 1;
    for (size_t i = 0; i < levels; ++i) chain.insert(base /= "d");
    fs::create_directories(base, ec);
    if (ec) {
      std::fprintf(stderr, "cannot create %s\n", base.c_str());
      std::abort();
    }
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  // Aborts on anything in the folder but the archive, the chain and what
  // lies below the base.
  void check() const {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      const fs::path& p = it->path();
      if (p == base) it.disable_recursion_pending();
      if (p == archive || chain.count(p)) continue;
      std::fprintf(stderr, "extracted outside the base directory: %s\n", p.c_str());
      std::abort();
    }
  }

  void clearBase() const {
    std::error_code ec;
    fs::remove_all(base, ec);
    fs::create_directory(base, ec);
  }
};

const Scratch& scratch() {
  static Scratch s;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  sanitiseItemName(name);
  ArchiveItem scratchItem;
  applyExtendedTimestamp(data, size, scratchItem);

  const Scratch& s = scratch();
  if (FILE* f = std::fopen(s.archive.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }

  ArchiveReader* reader = openArchive(s.archive.string());
  ArchiveItem item;
  getArchiveItem(reader, -1, item);
  int32_t count = item.index < 32 ? item.index : 32;
  setArchiveBaseDir(reader, s.base.string());
  for (int32_t i = 0; i < count; ++i) {
    if (getArchiveItem(reader, i, item) != kArchiveOk) continue;
    // The reader never writes past the announced size; keep runs short.
    if (item.uncompressedSize > (1u << 20)) continue;
    extractArchiveItem(reader, i, item.name);
  }
  getArchiveItem(reader, count > 0 ? 0 : -1, item);  // step back to the start
  closeArchive(reader);
  s.check();
  s.clearBase();
  return 0;
}
