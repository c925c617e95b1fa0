// Making a binary patch (the publisher's side of patch_apply.h): one zstd
// frame compressing the target with the base as its prefix, long-distance
// matching on and a window covering both files, so that a part moved
// anywhere in the file is still found. The parameters are those of
// `zstd --patch-from` at its default level, made deterministic (one thread,
// the prefix always loaded apart from the data): equal inputs give equal
// bytes with the same libzstd.
//
// Files one frame cannot cover are patched in pieces (patch_apply.h): every
// piece of the target is one frame made against its region of the base,
// with a window of at most 2^31 bytes, whatever the files' sizes.
//
// Memory: base and target are mapped, not copied; the compressor adds its
// match tables (about 200 MiB for 1 GiB files, no more for larger ones).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace release {

// What the parameters are; recorded beside made patches, so that a change
// here makes them again.
extern const char kPatchFormat[];

// Pieces of this size for files larger than one frame can produce.
constexpr uint64_t kDefaultPieceSize = 512u << 20;

// The piece size of a patch between files of these sizes, 0 for one frame.
// pieceOption 0: pieces of kDefaultPieceSize when either file is larger
// than kMaxPatchedFileSize; otherwise pieces of pieceOption when either is
// larger than that (tests prove pieces with small files this way).
uint64_t pieceSizeFor(uint64_t baseSize, uint64_t targetSize, uint64_t pieceOption);

struct PatchMakeResult {
  bool tooLarge = false;  // stopped at sizeLimit; nothing written
  uint64_t size = 0;      // of the patch written
  uint64_t pieceSize = 0;  // of a piece-wise patch; 0 for one frame
};

// Called with the number of target bytes just consumed (progress).
using PatchCounter = std::function<void(uint64_t)>;

// Writes to patchPath the patch that turns the file at basePath into the
// file at targetPath. When the patch reaches sizeLimit bytes it stops, sets
// tooLarge and deletes what it wrote. Both inputs are opened as the
// launcher opens files (exclusively), so no two makes may read one file at
// a time. False with a message on failure.
bool makePatch(const std::string& basePath, const std::string& targetPath, const std::string& patchPath,
               uint64_t sizeLimit, PatchMakeResult* result, std::string* error, const PatchCounter& counter = {},
               uint64_t pieceOption = 0);

}  // namespace release
