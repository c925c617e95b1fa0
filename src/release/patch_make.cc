#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_c_stableInBuffer, ZSTD_c_deterministicRefPrefix
#include "release/patch_make.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/fs.h"
#include "release/patch_apply.h"

namespace release {
namespace {

// zstd's default level, as `zstd --patch-from` uses it: higher levels took
// over three times as long for patches a few percent smaller.
constexpr int kLevel = 3;
// Target bytes offered per call, for progress.
constexpr size_t kInputStep = 8u << 20;
constexpr size_t kOutputChunk = 1u << 20;

struct CctxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

// Smallest window log that lets the end of the target reach the start of
// the base: 2^log > 2 * max(base, target) >= base + target.
int windowLogFor(uint64_t baseSize, uint64_t targetSize) {
  uint64_t larger = std::max(baseSize, targetSize);
  int log = 0;
  while (log < 63 && (uint64_t{1} << log) <= larger) ++log;
  return std::max(ZSTD_WINDOWLOG_MIN, std::min(log + 1, kPatchWindowLogMax));
}

// An input file mapped whole (nothing for an empty one).
bool mapInput(const std::string& path, platform::File* file, platform::MappedView* view, uint64_t* size,
              std::string* error) {
  *file = platform::File::openExclusiveRead(path);
  if (!file->valid() || !file->size(size)) {
    *error = "cannot open " + path;
    return false;
  }
  if (*size > kMaxPatchedFileSize) {
    *error = path + " is larger than a patch can handle";
    return false;
  }
  if (*size == 0) return true;
  *view = platform::MappedView::map(*file, *size);
  if (!view->valid()) {
    *error = "cannot map " + path;
    return false;
  }
  return true;
}

}  // namespace

const char kPatchFormat[] = "zstd-patch-from level 3 long window 2x";

bool makePatch(const std::string& basePath, const std::string& targetPath, const std::string& patchPath,
               uint64_t sizeLimit, PatchMakeResult* result, std::string* error, const PatchCounter& counter) {
  *result = PatchMakeResult();
  platform::File baseFile, targetFile;
  platform::MappedView base, target;
  uint64_t baseSize = 0, targetSize = 0;
  if (!mapInput(basePath, &baseFile, &base, &baseSize, error) ||
      !mapInput(targetPath, &targetFile, &target, &targetSize, error))
    return false;

  std::unique_ptr<ZSTD_CCtx, CctxFree> cctx(ZSTD_createCCtx());
  auto set = [&](ZSTD_cParameter p, int v) { return !ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), p, v)); };
  if (!cctx || !set(ZSTD_c_compressionLevel, kLevel) ||
      !set(ZSTD_c_windowLog, windowLogFor(baseSize, targetSize)) || !set(ZSTD_c_enableLongDistanceMatching, 1) ||
      !set(ZSTD_c_checksumFlag, 0) || !set(ZSTD_c_contentSizeFlag, 1) || !set(ZSTD_c_nbWorkers, 0) ||
      !set(ZSTD_c_stableInBuffer, 1) || !set(ZSTD_c_deterministicRefPrefix, 1) ||
      ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx.get(), targetSize)) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), base.data(), base.size()))) {
    *error = "cannot set up the compressor for " + targetPath;
    return false;
  }

  platform::File out = platform::File::createForWrite(patchPath, 0);
  if (!out.valid()) {
    *error = "cannot create " + patchPath;
    return false;
  }
  auto abandon = [&]() {
    out.close();
    platform::deleteFile(patchPath);
  };
  std::vector<uint8_t> chunk(kOutputChunk);
  // The input grows by steps; zstd reads it in place (stable input).
  ZSTD_inBuffer input = {target.data(), 0, 0};
  uint64_t written = 0;
  for (;;) {
    size_t before = input.size;
    input.size = static_cast<size_t>(std::min<uint64_t>(targetSize, input.size + kInputStep));
    ZSTD_EndDirective mode = input.size == targetSize ? ZSTD_e_end : ZSTD_e_continue;
    size_t left;
    bool moved;
    do {
      size_t pos = input.pos;
      ZSTD_outBuffer output = {chunk.data(), chunk.size(), 0};
      left = ZSTD_compressStream2(cctx.get(), &output, &input, mode);
      if (ZSTD_isError(left)) {
        abandon();
        *error = "cannot make the patch for " + targetPath + ": " + ZSTD_getErrorName(left);
        return false;
      }
      moved = input.pos != pos || output.pos != 0;
      written += output.pos;
      if (written >= sizeLimit) {
        abandon();
        result->tooLarge = true;
        return true;
      }
      if (!out.write(chunk.data(), output.pos)) {
        abandon();
        *error = "cannot write " + patchPath;
        return false;
      }
    } while (mode == ZSTD_e_end ? left != 0 : input.pos < input.size && moved);
    if (counter) counter(input.size - before);
    if (mode == ZSTD_e_end) break;
  }
  if (!out.close()) {
    platform::deleteFile(patchPath);
    *error = "cannot write " + patchPath;
    return false;
  }
  result->size = written;
  return true;
}

}  // namespace release
