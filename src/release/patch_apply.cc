#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer, ZSTD_getFrameHeader
#include "release/patch_apply.h"

#include <zstd.h>

#include <algorithm>
#include <condition_variable>
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

PatchApplyResult apply(const platform::Md5Provider& provider, const std::string& basePath, const uint8_t* patch,
                       size_t patchSize, const std::string& outputPath, const std::string& targetMd5,
                       const PatchProgress& progress) {
  // The header first: nothing is opened or allocated for a patch that asks
  // for more than the limits.
  ZSTD_frameHeader header;
  size_t rc = ZSTD_getFrameHeader(&header, patch, patchSize);
  if (rc != 0 || header.frameType != ZSTD_frame)
    return failed(PatchFailure::DoesNotApply, "the patch does not start with a zstd frame header");
  if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN || header.frameContentSize > kMaxPatchedFileSize)
    return failed(PatchFailure::DoesNotApply, "the patch does not announce a result size up to " +
                                                  std::to_string(kMaxPatchedFileSize) + " bytes");
  if (header.windowSize > (1ull << kPatchWindowLogMax))
    return failed(PatchFailure::DoesNotApply, "the patch's window is larger than 2^" +
                                                  std::to_string(kPatchWindowLogMax) + " bytes");
  const uint64_t total = header.frameContentSize;

  platform::File base = platform::File::openExclusiveRead(basePath);
  uint64_t baseSize = 0;
  if (!base.valid() || !base.size(&baseSize))
    return failed(PatchFailure::MissingBase, "cannot open " + basePath + " to patch it");
  platform::MappedView baseView;
  if (baseSize > 0) {
    baseView = platform::MappedView::map(base, baseSize);
    if (!baseView.valid()) return failed(PatchFailure::MissingBase, "cannot map " + basePath + " to patch it");
  }

  std::unique_ptr<ZSTD_DCtx, DctxFree> dctx(ZSTD_createDCtx());
  if (!dctx || ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kPatchWindowLogMax)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_stableOutBuffer, 1)) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), baseView.data(), baseView.size())))
    return failed(PatchFailure::DoesNotApply, "cannot set up the decoder");

  // The output file itself is the decoder's window: any later part may copy
  // from any earlier one, so all of it must stay addressable.
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
  ZSTD_outBuffer output = {buffer, static_cast<size_t>(total), 0};
  size_t consumed = 0;
  bool complete = false;
  while (!complete) {
    size_t step = std::min(kInputStep, patchSize - consumed);
    ZSTD_inBuffer input = {patch + consumed, step, 0};
    size_t before = output.pos;
    size_t hint = ZSTD_decompressStream(dctx.get(), &output, &input);
    consumed += input.pos;
    if (ZSTD_isError(hint)) {
      md5.stop();
      return failed(PatchFailure::DoesNotApply, std::string("the patch does not apply to ") + basePath + ": " +
                                                  ZSTD_getErrorName(hint));
    }
    complete = hint == 0;
    if (output.pos > before) {
      md5.advance(output.pos);
      if (progress && !progress(output.pos, total)) {
        md5.stop();
        return failed(PatchFailure::Cancelled, "stopped while patching " + outputPath);
      }
    }
    // No input left and no output made: the frame is cut short.
    if (!complete && step == 0 && output.pos == before) {
      md5.stop();
      return failed(PatchFailure::DoesNotApply, "the patch ends early");
    }
  }
  std::string digest = md5.finish();
  PatchApplyResult result;
  result.outputSize = output.pos;
  result.peakMemory = ZSTD_sizeof_DCtx(dctx.get());
  if (consumed != patchSize) return failed(PatchFailure::DoesNotApply, "the patch has bytes after its end");
  if (output.pos != total)
    return failed(PatchFailure::DoesNotApply, "the patch produced fewer bytes than it announced");
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
