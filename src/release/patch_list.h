// The patch list: which binary patches the server offers, served as
// "patches.txt" beside "files.txt" and zipped the same way (a zip archive
// holding one member "patches.txt"). A server without it offers no patches.
//
// Text: one line per patch, five TAB-separated fields, ended by CR LF:
//
//   name      the file's name as files.txt lists it
//   base      MD5 of the version the patch starts from  (32 upper-case hex)
//   target    MD5 of the version it produces            (32 upper-case hex)
//   size      bytes of the patch as served, decimal, 1 .. 2147483647
//   path      where the patch is served, relative to the folder of files.txt
//
// A patch is a single zstd frame made with the base version as its prefix
// (see patch_apply.h). Piece-wise patches, for files one frame cannot cover,
// are listed in "piece_patches.txt" instead, in the same form but with
// sizes up to 2^63 - 1: launchers that know only patches.txt never see them. The reader is strict: one bad line rejects the whole
// list, so a damaged or foreign list can only ever mean "no patches". The
// writer's output is the only form the reader accepts, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace release {

constexpr char kPatchListName[] = "patches.txt";
constexpr char kPiecePatchListName[] = "piece_patches.txt";

// Limits the reader enforces.
constexpr size_t kMaxPatchListBytes = 32u << 20;
constexpr size_t kMaxPatchNameBytes = 1024;
constexpr size_t kMaxPatchPathBytes = 1024;
constexpr uint64_t kMaxPatchSize = 2147483647;  // launchers before 64-bit sizes read this list
constexpr uint64_t kMaxPiecePatchSize = 9223372036854775807u;

struct PatchEntry {
  std::string name;
  std::string baseMd5;
  std::string targetMd5;
  uint64_t size = 0;
  std::string path;

  bool operator==(const PatchEntry& o) const {
    return name == o.name && baseMd5 == o.baseMd5 && targetMd5 == o.targetMd5 && size == o.size && path == o.path;
  }
};

// Parses the list text [data, data + size). On any malformed line returns
// false, leaves *entries empty and says which line and why in *error.
// Besides the field rules: a name's lines all share one target, a (name,
// base) pair appears once, and base differs from target.
// maxPatchSize: kMaxPatchSize for patches.txt, kMaxPiecePatchSize for the
// piece list.
bool parsePatchList(const char* data, size_t size, std::vector<PatchEntry>* entries, std::string* error,
                    uint64_t maxPatchSize = kMaxPatchSize);

// The list text for entries, in the given order. Entries must satisfy the
// reader's rules (the publisher checks its own names before).
std::string formatPatchList(const std::vector<PatchEntry>& entries);

// Why `path` cannot be a patch's server path, or "" when it can: it must be
// a safe relative path (isSafeRelativePath) of printable ASCII without
// blanks, "\" or the bytes that have a meaning in a URL (% # ? and the like),
// with no empty, "." or ".." component.
std::string patchPathProblem(const std::string& path);

// The patch that turns the local version (localMd5) of `name` into the
// version the file list names (listMd5), or nullptr when there is none.
const PatchEntry* findPatch(const std::vector<PatchEntry>& entries, const std::string& name,
                            const std::string& localMd5, const std::string& listMd5);

// True for 32 upper-case hexadecimal digits.
bool isMd5Text(const std::string& text);

}  // namespace release
