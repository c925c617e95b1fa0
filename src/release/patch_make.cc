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
  if (*size == 0) return true;
  *view = platform::MappedView::map(*file, *size);
  if (!view->valid()) {
    *error = "cannot map " + path;
    return false;
  }
  return true;
}

// Where the patch goes: counts what is written and stops at the limit.
class PatchOut {
 public:
  enum Outcome { kOk, kTooLarge, kFailed };
  PatchOut(const std::string& path, uint64_t limit)
      : path_(path), limit_(limit), file_(platform::File::createForWrite(path, 0)) {}
  bool valid() const { return file_.valid(); }
  uint64_t written() const { return written_; }
  Outcome put(const void* data, size_t size) {
    written_ += size;
    if (written_ >= limit_) return kTooLarge;
    return file_.write(data, size) ? kOk : kFailed;
  }
  bool close() { return file_.close(); }
  void abandon() {
    file_.close();
    platform::deleteFile(path_);
  }

 private:
  std::string path_;
  uint64_t limit_;
  uint64_t written_ = 0;
  platform::File file_;
};

// Compresses [src, src + size) as one frame against the prefix into out.
PatchOut::Outcome compressFrame(ZSTD_CCtx* cctx, const uint8_t* prefix, uint64_t prefixSize, const uint8_t* src,
                                uint64_t size, PatchOut* out, std::vector<uint8_t>* chunk, const PatchCounter& counter,
                                std::string* error) {
  if (ZSTD_isError(ZSTD_CCtx_reset(cctx, ZSTD_reset_session_only)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLogFor(prefixSize, size))) ||
      ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx, size)) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(cctx, prefix, static_cast<size_t>(prefixSize)))) {
    *error = "cannot set up the compressor";
    return PatchOut::kFailed;
  }
  // The input grows by steps; zstd reads it in place (stable input).
  ZSTD_inBuffer input = {src, 0, 0};
  for (;;) {
    size_t before = input.size;
    input.size = static_cast<size_t>(std::min<uint64_t>(size, input.size + kInputStep));
    ZSTD_EndDirective mode = input.size == size ? ZSTD_e_end : ZSTD_e_continue;
    size_t left;
    bool moved;
    do {
      size_t pos = input.pos;
      ZSTD_outBuffer output = {chunk->data(), chunk->size(), 0};
      left = ZSTD_compressStream2(cctx, &output, &input, mode);
      if (ZSTD_isError(left)) {
        *error = std::string("cannot make the patch: ") + ZSTD_getErrorName(left);
        return PatchOut::kFailed;
      }
      moved = input.pos != pos || output.pos != 0;
      PatchOut::Outcome put = out->put(chunk->data(), output.pos);
      if (put != PatchOut::kOk) {
        if (put == PatchOut::kFailed) *error = "cannot write the patch";
        return put;
      }
    } while (mode == ZSTD_e_end ? left != 0 : input.pos < input.size && moved);
    if (counter) counter(input.size - before);
    if (mode == ZSTD_e_end) return PatchOut::kOk;
  }
}

void putLe(std::string* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

const char kPatchFormat[] = "zstd-patch-from level 3 long window 2x";

uint64_t pieceSizeFor(uint64_t baseSize, uint64_t targetSize, uint64_t pieceOption) {
  uint64_t larger = std::max(baseSize, targetSize);
  if (pieceOption == 0) return larger > kMaxPatchedFileSize ? kDefaultPieceSize : 0;
  return larger > pieceOption ? pieceOption : 0;
}

bool makePatch(const std::string& basePath, const std::string& targetPath, const std::string& patchPath,
               uint64_t sizeLimit, PatchMakeResult* result, std::string* error, const PatchCounter& counter,
               uint64_t pieceOption) {
  *result = PatchMakeResult();
  platform::File baseFile, targetFile;
  platform::MappedView base, target;
  uint64_t baseSize = 0, targetSize = 0;
  if (!mapInput(basePath, &baseFile, &base, &baseSize, error) ||
      !mapInput(targetPath, &targetFile, &target, &targetSize, error))
    return false;
  uint64_t pieceSize = pieceSizeFor(baseSize, targetSize, pieceOption);
  if (pieceSize != 0 && (pieceSize < kMinPieceSize || pieceSize > kMaxPieceSize)) {
    *error = "a piece size must be from " + std::to_string(kMinPieceSize) + " to " + std::to_string(kMaxPieceSize) +
             " bytes";
    return false;
  }

  std::unique_ptr<ZSTD_CCtx, CctxFree> cctx(ZSTD_createCCtx());
  auto set = [&](ZSTD_cParameter p, int v) { return !ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), p, v)); };
  if (!cctx || !set(ZSTD_c_compressionLevel, kLevel) || !set(ZSTD_c_enableLongDistanceMatching, 1) ||
      !set(ZSTD_c_checksumFlag, 0) || !set(ZSTD_c_contentSizeFlag, 1) || !set(ZSTD_c_nbWorkers, 0) ||
      !set(ZSTD_c_stableInBuffer, 1) || !set(ZSTD_c_deterministicRefPrefix, 1)) {
    *error = "cannot set up the compressor for " + targetPath;
    return false;
  }

  PatchOut out(patchPath, sizeLimit);
  if (!out.valid()) {
    *error = "cannot create " + patchPath;
    return false;
  }
  std::vector<uint8_t> chunk(kOutputChunk);
  PatchOut::Outcome outcome = PatchOut::kOk;
  if (pieceSize == 0) {
    outcome = compressFrame(cctx.get(), base.data(), baseSize, target.data(), targetSize, &out, &chunk, counter, error);
  } else {
    std::string header;
    putLe(&header, kPieceHeaderMagic, 4);
    putLe(&header, kPieceHeaderSize - 8, 4);
    header += "TVLPIECE";
    for (uint64_t v : {pieceSize, baseSize, targetSize}) putLe(&header, v, 8);
    outcome = out.put(header.data(), header.size());
    for (uint64_t at = 0; outcome == PatchOut::kOk && at < targetSize; at += pieceSize) {
      PieceRegion region = pieceReference(at, pieceSize, baseSize);
      outcome = compressFrame(cctx.get(), region.size ? base.data() + region.offset : nullptr, region.size,
                              target.data() + at, std::min(pieceSize, targetSize - at), &out, &chunk, counter, error);
    }
  }
  if (outcome != PatchOut::kOk) {
    out.abandon();
    if (outcome == PatchOut::kFailed) {
      *error += " for " + targetPath + " (" + patchPath + ")";
      return false;
    }
    result->tooLarge = true;
    return true;
  }
  if (!out.close()) {
    platform::deleteFile(patchPath);
    *error = "cannot write " + patchPath;
    return false;
  }
  result->size = out.written();
  result->pieceSize = pieceSize;
  return true;
}

}  // namespace release
