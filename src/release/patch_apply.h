// Applying a binary patch: the installed (base) version of a file, mapped
// read-only, is the reference; the patch is one zstd frame made with that
// base as its prefix (patch_make.h), so `zstd -d --long=31 --patch-from=BASE`
// reads it too. The result is decoded straight into the output (staging)
// file while its MD5 is computed, and checked against the target's MD5.
//
// Memory: the base, the patch and the output are all mapped files. The
// decoder must be able to reach the whole output, because the format lets
// any later part refer to any earlier part as well as to the base; the
// output file, sized from the frame header and mapped for writing, is that
// window. What is written goes to the system's file cache, which the system
// writes out and drops as it needs memory, so the private memory of an apply
// is the decoder's workspace (about 200 KiB; PatchApplyResult::peakMemory)
// whatever the file's size. The resident set still shows the mapped pages
// while they are cached. The frame header is checked against the limits
// before anything is opened.
//
// Piece-wise patches, for files one frame cannot cover (makePatch decides):
// a skippable zstd frame as header (kPieceHeaderMagic, then "TVLPIECE",
// the piece size, the base's size and the target's size, little-endian
// 64-bit), then one zstd frame per piece of the target, in order, each made
// with the region pieceReference() gives of the base as its prefix. Every
// frame is decoded straight into its piece of the mapped output, so memory
// is the same as for one frame. `zstd -d` cannot read these (each frame has
// a prefix of its own); they are listed apart from single-frame patches.
//
// Thread safety: no shared state; any number of applies may run at once on
// different files. The MD5 runs on a helper thread while the main one
// decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {
class Md5Provider;
}

namespace release {

// A patch may produce at most this many bytes (the launcher's sizes are
// signed 32-bit), and its window may be at most 2^kPatchWindowLogMax: enough
// for any base and target up to that size to refer to each other.
constexpr uint64_t kMaxPatchedFileSize = 2147483647;
constexpr int kPatchWindowLogMax = 31;

// Piece sizes the reader accepts: a reference region (at most twice a
// piece) and the piece itself always fit one window of 2^kPatchWindowLogMax.
constexpr uint64_t kMinPieceSize = 64u << 10;
constexpr uint64_t kMaxPieceSize = 512u << 20;
constexpr uint32_t kPieceHeaderMagic = 0x184D2A5E;  // a zstd skippable frame
constexpr size_t kPieceHeaderSize = 40;            // magic, length, 32 bytes

// The part of the base a piece is made against: the piece's own range
// widened by half a piece on each side (content moved by up to that much
// is still found), cut to the base.
struct PieceRegion {
  uint64_t offset = 0;
  uint64_t size = 0;
};
PieceRegion pieceReference(uint64_t pieceStart, uint64_t pieceSize, uint64_t baseSize);

enum class PatchFailure {
  None,
  MissingBase,   // the installed file cannot be opened or mapped
  DoesNotApply,  // the patch is damaged, cut short, not a patch, or beyond the limits
  WrongResult,   // it applied, but what came out is not the target
  WriteError,    // the output could not be created or written
  Cancelled,     // the progress callback asked to stop
};

// "missing base", "does not apply", ... for messages and logs.
const char* patchFailureName(PatchFailure failure);

struct PatchApplyResult {
  PatchFailure failure = PatchFailure::None;
  std::string message;      // empty on success; names the file and the cause otherwise
  uint64_t outputSize = 0;  // bytes written
  std::string md5;          // of the output, when it was complete
  uint64_t peakMemory = 0;  // the decoder's workspace (mapped files not counted)
  uint64_t pieces = 0;      // frames of a piece-wise patch, 0 for a single frame
  bool ok() const { return failure == PatchFailure::None; }
};

// Told the output bytes written so far and the total the patch announces;
// returning false stops the apply (Cancelled).
using PatchProgress = std::function<bool(uint64_t done, uint64_t total)>;

// Applies the patch file at patchPath to the file at basePath, writing the
// result to outputPath (created or truncated), and compares its MD5 with
// targetMd5 (upper-case hex), hashing through md5 (acquired). On any failure outputPath is deleted; on
// success it is complete and closed. The base is opened as the launcher
// opens installed files (exclusively).
PatchApplyResult applyPatch(const platform::Md5Provider& md5, const std::string& basePath,
                            const std::string& patchPath, const std::string& outputPath, const std::string& targetMd5,
                            const PatchProgress& progress = {});

// The same with the patch's bytes in memory.
PatchApplyResult applyPatchBytes(const platform::Md5Provider& md5, const std::string& basePath, const uint8_t* patch,
                                 size_t patchSize, const std::string& outputPath, const std::string& targetMd5,
                                 const PatchProgress& progress = {});

}  // namespace release
