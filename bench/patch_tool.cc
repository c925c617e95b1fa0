// Benchmark driver for binary patches: runs the publisher's and the
// launcher's code on prepared files so that bench/patch.sh can time them
// against `zstd --patch-from` and `cp`.
//   patch_tool make BASE TARGET PATCH        prints the patch size
//   patch_tool apply BASE PATCH OUTPUT MD5   prints the result and peak memory
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/md5.h"
#include "release/patch_apply.h"
#include "release/patch_make.h"

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
    release::PatchMakeResult r;
    std::string error;
    if (!release::makePatch(argv[2], argv[3], argv[4], UINT64_MAX, &r, &error)) {
      std::fprintf(stderr, "patch_tool: %s\n", error.c_str());
      return 1;
    }
    std::printf("patch %llu bytes\n", static_cast<unsigned long long>(r.size));
    return 0;
  }
  if (argc == 6 && std::strcmp(argv[1], "apply") == 0) {
    platform::Md5Provider md5;
    std::string error;
    if (!md5.acquire(&error)) {
      std::fprintf(stderr, "patch_tool: %s\n", error.c_str());
      return 1;
    }
    release::PatchApplyResult r = release::applyPatch(md5, argv[2], argv[3], argv[4], argv[5]);
    if (!r.ok()) {
      std::fprintf(stderr, "patch_tool: %s: %s\n", release::patchFailureName(r.failure), r.message.c_str());
      return 1;
    }
    std::printf("applied %llu bytes, peak memory %llu bytes\n", static_cast<unsigned long long>(r.outputSize),
                static_cast<unsigned long long>(r.peakMemory));
    return 0;
  }
  std::fprintf(stderr, "usage: patch_tool make BASE TARGET PATCH | apply BASE PATCH OUTPUT MD5\n");
  return 2;
}
