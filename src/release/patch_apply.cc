#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer, ZSTD_getFrameHeader
#include "release/patch_apply.h"

#include <zstd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/md5.h"

namespace release {
namespace {

// Patch bytes handed to the decoder per call: small enough that the output
// grows in steps the MD5 thread and the progress can follow (a block that
// only copies from the base takes a few bytes of the patch for 128 KiB).
constexpr size_t kInputStep = 1024;

struct DctxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// MD5 of a buffer that grows at its end, computed on a thread of its own.
class BackgroundMd5 {
 public:
  BackgroundMd5(const platform::Md5Provider& provider, const uint8_t* data)
      : data_(data), md5_(provider), thread_([this] { run(); }) {}
  ~BackgroundMd5() { stop(); }
  BackgroundMd5(const BackgroundMd5&) = delete;
  BackgroundMd5& operator=(const BackgroundMd5&) = delete;

  // Bytes [0, end) are final and may be hashed.
  void advance(size_t end) {
    {
      std::lock_guard<std::mutex> lock(m_);
      ready_ = end;
    }
    cv_.notify_one();
  }

  // Waits for everything advanced so far; the digest, or "" on failure.
  std::string finish() {
    {
      std::lock_guard<std::mutex> lock(m_);
      done_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
    return digest_;
  }

  // Ends the thread without waiting for the rest.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(m_);
      done_ = stopped_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    size_t pos = 0;
    for (;;) {
      size_t end;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return ready_ > pos || done_; });
        if (stopped_) return;
        end = ready_;
        if (end == pos) break;  // done and nothing left
      }
      md5_.update(data_ + pos, end - pos);
      pos = end;
    }
    digest_ = md5_.finalHex();
  }

  const uint8_t* data_;
  platform::Md5 md5_;
  std::mutex m_;
  std::condition_variable cv_;
  size_t ready_ = 0;
  bool done_ = false;
  bool stopped_ = false;
  std::string digest_;
  std::thread thread_;  // last: starts once the rest is set up
};

PatchApplyResult failed(PatchFailure failure, const std::string& message) {
  PatchApplyResult r;
  r.failure = failure;
  r.message = message;
  return r;
}

}  // namespace

PieceRegion pieceReference(uint64_t pieceStart, uint64_t pieceSize, uint64_t baseSize) {
  uint64_t begin = pieceStart > pieceSize / 2 ? pieceStart - pieceSize / 2 : 0;
  uint64_t end = std::min(baseSize, pieceStart + pieceSize + pieceSize / 2);
  PieceRegion r;
  if (begin < end) r = {begin, end - begin};
  return r;
}

const char* patchFailureName(PatchFailure failure) {
  switch (failure) {
    case PatchFailure::None: return "applied";
    case PatchFailure::MissingBase: return "missing base";
    case PatchFailure::DoesNotApply: return "does not apply";
    case PatchFailure::WrongResult: return "wrong result";
    case PatchFailure::WriteError: return "write error";
    case PatchFailure::Cancelled: return "cancelled";
  }
  return "?";
}

namespace {

uint64_t readLe(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// Decodes the frame at patch[*consumed] into out[at, at + len): all of it
// must come out, and nothing more.
PatchFailure decodeFrame(ZSTD_DCtx* dctx, const uint8_t* patch, size_t patchSize, size_t* consumed, uint8_t* out,
                         uint64_t at, uint64_t len, uint64_t total, BackgroundMd5& md5, const PatchProgress& progress,
                         std::string* message) {
  ZSTD_outBuffer output = {out + at, static_cast<size_t>(len), 0};
  for (bool complete = false; !complete;) {
    size_t step = std::min(kInputStep, patchSize - *consumed);
    ZSTD_inBuffer input = {patch + *consumed, step, 0};
    size_t before = output.pos;
    size_t hint = ZSTD_decompressStream(dctx, &output, &input);
    *consumed += input.pos;
    if (ZSTD_isError(hint)) {
      *message = std::string("the patch does not apply: ") + ZSTD_getErrorName(hint);
      return PatchFailure::DoesNotApply;
    }
    complete = hint == 0;
    if (output.pos > before) {
      md5.advance(static_cast<size_t>(at + output.pos));
      if (progress && !progress(at + output.pos, total)) return PatchFailure::Cancelled;
    }
    // No input left and no output made: the frame is cut short.
    if (!complete && step == 0 && output.pos == before) {
      *message = "the patch ends early";
      return PatchFailure::DoesNotApply;
    }
  }
  if (output.pos != len) {
    *message = "the patch produced fewer bytes than it announced";
    return PatchFailure::DoesNotApply;
  }
  return PatchFailure::None;
}

// The frame header at patch[at], held to the limits: true when it is a zstd
// frame announcing its content size and a window the decoder accepts.
bool frameHeaderOk(const uint8_t* patch, size_t patchSize, size_t at, uint64_t maxContent, uint64_t* content,
                   std::string* message) {
  ZSTD_frameHeader header;
  size_t rc = ZSTD_getFrameHeader(&header, patch + at, patchSize - at);
  if (rc != 0 || header.frameType != ZSTD_frame) {
    *message = "the patch does not hold a zstd frame header where one belongs";
    return false;
  }
  if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN || header.frameContentSize > maxContent) {
    *message = "the patch does not announce a result size up to " + std::to_string(maxContent) + " bytes";
    return false;
  }
  if (header.windowSize > (1ull << kPatchWindowLogMax)) {
    *message = "the patch's window is larger than 2^" + std::to_string(kPatchWindowLogMax) + " bytes";
    return false;
  }
  *content = header.frameContentSize;
  return true;
}

PatchApplyResult apply(const platform::Md5Provider& provider, const std::string& basePath, const uint8_t* patch,
                       size_t patchSize, const std::string& outputPath, const std::string& targetMd5,
                       const PatchProgress& progress) {
  // The header first: nothing is opened or allocated for a patch that asks
  // for more than the limits.
  std::string message;
  bool pieces = patchSize >= 4 && readLe(patch, 4) == kPieceHeaderMagic;
  uint64_t total = 0, pieceSize = 0, pieceBase = 0;
  size_t consumed = 0;
  if (pieces) {
    if (patchSize < kPieceHeaderSize || readLe(patch + 4, 4) != kPieceHeaderSize - 8 ||
        std::memcmp(patch + 8, "TVLPIECE", 8) != 0)
      return failed(PatchFailure::DoesNotApply, "the patch's piece header is damaged");
    pieceSize = readLe(patch + 16, 8);
    pieceBase = readLe(patch + 24, 8);
    total = readLe(patch + 32, 8);
    if (pieceSize < kMinPieceSize || pieceSize > kMaxPieceSize || total > uint64_t{INT64_MAX} ||
        total > SIZE_MAX)
      return failed(PatchFailure::DoesNotApply, "the patch's piece header announces sizes beyond the limits");
    consumed = kPieceHeaderSize;
  } else if (!frameHeaderOk(patch, patchSize, 0, kMaxPatchedFileSize, &total, &message)) {
    return failed(PatchFailure::DoesNotApply, message);
  }

  platform::File base = platform::File::openExclusiveRead(basePath);
  uint64_t baseSize = 0;
  if (!base.valid() || !base.size(&baseSize))
    return failed(PatchFailure::MissingBase, "cannot open " + basePath + " to patch it");
  if (pieces && baseSize != pieceBase)
    return failed(PatchFailure::DoesNotApply, "the patch is for a base of " + std::to_string(pieceBase) +
                                                  " bytes; " + basePath + " has " + std::to_string(baseSize));
  platform::MappedView baseView;
  if (baseSize > 0) {
    baseView = platform::MappedView::map(base, baseSize);
    if (!baseView.valid()) return failed(PatchFailure::MissingBase, "cannot map " + basePath + " to patch it");
  }

  std::unique_ptr<ZSTD_DCtx, DctxFree> dctx(ZSTD_createDCtx());
  if (!dctx || ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kPatchWindowLogMax)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_stableOutBuffer, 1)) ||
      (!pieces && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), baseView.data(), baseView.size()))))
    return failed(PatchFailure::DoesNotApply, "cannot set up the decoder");

  // The output file itself is the decoder's window: any later part of a
  // frame may copy from any earlier one, so all of it must stay addressable.
  platform::MappedOutputFile out;
  uint8_t empty = 0;
  uint8_t* buffer = &empty;
  if (total > 0) {
    std::string error;
    out = platform::MappedOutputFile::create(outputPath, total, &error);
    if (!out.valid()) return failed(PatchFailure::WriteError, error);
    buffer = out.data();
  } else if (!platform::File::createForWrite(outputPath, 0).close()) {
    return failed(PatchFailure::WriteError, "cannot create " + outputPath);
  }

  BackgroundMd5 md5(provider, buffer);
  auto stop = [&](PatchFailure failure) {
    md5.stop();
    if (failure == PatchFailure::Cancelled) message = "stopped while patching " + outputPath;
    return failed(failure, message + " (" + basePath + ")");
  };
  PatchFailure failure = PatchFailure::None;
  uint64_t frames = 0;
  if (!pieces) {
    failure = decodeFrame(dctx.get(), patch, patchSize, &consumed, buffer, 0, total, total, md5, progress, &message);
    if (failure != PatchFailure::None) return stop(failure);
  }
  for (uint64_t at = 0; pieces && at < total; at += pieceSize, ++frames) {
    uint64_t len = std::min(pieceSize, total - at), announced = 0;
    PieceRegion region = pieceReference(at, pieceSize, baseSize);
    if (consumed >= patchSize) {
      message = "the patch ends early";
      return stop(PatchFailure::DoesNotApply);
    }
    if (!frameHeaderOk(patch, patchSize, consumed, pieceSize, &announced, &message)) return stop(PatchFailure::DoesNotApply);
    if (announced != len) {
      message = "piece " + std::to_string(frames + 1) + " announces " + std::to_string(announced) + " bytes instead of " +
                std::to_string(len);
      return stop(PatchFailure::DoesNotApply);
    }
    if (ZSTD_isError(ZSTD_DCtx_reset(dctx.get(), ZSTD_reset_session_only)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), region.size ? baseView.data() + region.offset : nullptr,
                                         static_cast<size_t>(region.size)))) {
      message = "cannot set up the decoder";
      return stop(PatchFailure::DoesNotApply);
    }
    failure = decodeFrame(dctx.get(), patch, patchSize, &consumed, buffer, at, len, total, md5, progress, &message);
    if (failure != PatchFailure::None) return stop(failure);
  }
  std::string digest = md5.finish();
  PatchApplyResult result;
  result.outputSize = total;
  result.pieces = frames;
  result.peakMemory = ZSTD_sizeof_DCtx(dctx.get());
  if (consumed != patchSize) return failed(PatchFailure::DoesNotApply, "the patch has bytes after its end");
  if (digest.empty()) return failed(PatchFailure::WrongResult, "cannot compute the MD5 of " + outputPath);
  if (digest != targetMd5)
    return failed(PatchFailure::WrongResult,
                "patching " + basePath + " gave MD5 " + digest + " instead of " + targetMd5);
  if (total > 0 && !out.close()) return failed(PatchFailure::WriteError, "cannot write " + outputPath);
  result.md5 = digest;
  return result;
}

}  // namespace

PatchApplyResult applyPatchBytes(const platform::Md5Provider& md5, const std::string& basePath, const uint8_t* patch,
                                 size_t patchSize, const std::string& outputPath, const std::string& targetMd5,
                                 const PatchProgress& progress) {
  PatchApplyResult r = apply(md5, basePath, patch, patchSize, outputPath, targetMd5, progress);
  if (!r.ok()) platform::deleteFile(outputPath);  // closed by now
  return r;
}

PatchApplyResult applyPatch(const platform::Md5Provider& md5, const std::string& basePath,
                            const std::string& patchPath, const std::string& outputPath, const std::string& targetMd5,
                            const PatchProgress& progress) {
  platform::File file = platform::File::openExclusiveRead(patchPath);
  uint64_t size = 0;
  platform::MappedView view;
  if (file.valid() && file.size(&size) && size > 0) view = platform::MappedView::map(file, size);
  if (!view.valid()) {
    platform::deleteFile(outputPath);
    return failed(PatchFailure::DoesNotApply, "cannot read the patch " + patchPath);
  }
  return applyPatchBytes(md5, basePath, view.data(), view.size(), outputPath, targetMd5, progress);
}

}  // namespace release
