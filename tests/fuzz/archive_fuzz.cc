// The archive reader over arbitrary files: open, list and extract every item
// below a scratch directory. Nothing may crash, overrun or land outside it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "transfer/archive.h"

using namespace tvl;

namespace {

namespace fs = std::filesystem;

// Removed again when the fuzzer exits.
struct Scratch {
  fs::path dir = fs::temp_directory_path() / ("tvl-archive-fuzz-" + std::to_string(getpid()));
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

const fs::path& scratch() {
  static Scratch s;
  return s.dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name(reinterpret_cast<const char*>(data), size);
  sanitiseItemName(name);
  ArchiveItem scratchItem;
  applyExtendedTimestamp(data, size, scratchItem);

  std::error_code ec;
  fs::remove_all(scratch(), ec);
  fs::create_directories(scratch() / "base", ec);
  std::string archive = (scratch() / "in.zip").string();
  if (FILE* f = std::fopen(archive.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }

  ArchiveReader* reader = openArchive(archive);
  ArchiveItem item;
  getArchiveItem(reader, -1, item);
  int32_t count = item.index < 32 ? item.index : 32;
  setArchiveBaseDir(reader, (scratch() / "base").string());
  for (int32_t i = 0; i < count; ++i) {
    if (getArchiveItem(reader, i, item) != kArchiveOk) continue;
    // The reader never writes past the announced size; keep runs short.
    if (item.uncompressedSize > (1u << 20)) continue;
    extractArchiveItem(reader, i, i % 2 ? "out.bin" : "sub/dir/out.bin");
  }
  getArchiveItem(reader, count > 0 ? 0 : -1, item);  // step back to the start
  closeArchive(reader);
  return 0;
}
