// The patch-list reader over arbitrary bytes: no crash, no undefined
// behaviour, and whatever it accepts is exactly what the writer gives for
// the entries it read (the format has one spelling per list).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "release/patch_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<release::PatchEntry> entries;
  std::string error;
  if (!release::parsePatchList(text, size, &entries, &error)) {
    if (error.empty() || !entries.empty()) std::abort();
    return 0;
  }
  if (release::formatPatchList(entries) != std::string(text, size)) std::abort();
  for (const release::PatchEntry& e : entries) {
    if (!release::isMd5Text(e.baseMd5) || !release::isMd5Text(e.targetMd5) || e.baseMd5 == e.targetMd5) std::abort();
    if (e.size == 0 || e.size > release::kMaxPatchSize || !release::patchPathProblem(e.path).empty()) std::abort();
    if (release::findPatch(entries, e.name, e.baseMd5, e.targetMd5) == nullptr) std::abort();
  }
  return 0;
}
