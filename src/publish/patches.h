// Binary patches for the large files of a release, made from their earlier
// versions in the --previous folders (newest first):
//
//   - a file of at least patchMinSize bytes gets a patch from each of the
//     first patchVersions different earlier versions found for its name;
//   - a patch is kept only when it is smaller than patchKeepPercent of the
//     file's archive; making it stops as soon as it reaches that size;
//   - kept patches are served as "patches/<base MD5>-<target MD5>.zst" and
//     listed in "patches.txt"; a file larger than one patch frame covers
//     (or than patchPieceSize) is patched in pieces, served as
//     "patches/<base MD5>-<target MD5>.zsp" and listed in "piece_patches.txt"
//     (both zipped like files.txt; see
//     release/patch_list.h), written after files.txt.
//
// The patches served depend on the release and the --previous folders only:
// a run without --previous takes every patch and the list away again. Runs
// are incremental: ".publish-patches" in the output remembers the MD5s of the
// earlier versions (by path, size and time), the patches made and the ones
// that came out too large, so unchanged inputs are neither read nor patched
// again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Md5Provider;
}

namespace publish {

struct PublishOptions;
struct Progress;

constexpr char kPatchStateFile[] = ".publish-patches";

struct PatchReport {
  bool active = false;       // patches were made, kept or taken away this run
  uint64_t listed = 0;       // patches in the list
  uint64_t made = 0;         // of those, made this run
  uint64_t tooLarge = 0;     // left out: not clearly smaller than the archive
  uint64_t bytes = 0;        // size of the listed patches
  bool listChanged = false;  // patches.txt or piece_patches.txt written or removed
  std::vector<std::string> changedLists;  // which of them
};

// A published game file, as the patch step sees it after packing.
struct PatchTarget {
  std::string name;
  std::string path;  // where the release file is read
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  std::string md5;
  uint64_t archiveSize = 0;
};

// One run's patches; the publisher calls the steps in order.
class Patches {
 public:
  // md5 is acquired and outlives the object.
  Patches(const PublishOptions& options, const platform::Md5Provider& md5, const std::string& outputDir,
          const std::string& tempDir, PatchReport* report);
  ~Patches();
  Patches(const Patches&) = delete;
  Patches& operator=(const Patches&) = delete;

  // Before anything is written: the --previous folders exist.
  bool check(std::string* error) const;
  // Why a release name collides with the patches, or "" when it does not.
  std::string reservedReason(const std::string& name) const;
  // After packing: hashes the earlier versions not yet known and makes the
  // missing patches. `targets` are all game files, in name order; listStamp
  // is the time files.txt carries.
  bool make(const std::vector<PatchTarget>& targets, int64_t listStamp, Progress* progress, std::string* error);
  // After files.txt: writes the patch lists, or removes one when nothing is left in it.
  bool publishList(std::string* error);
  // After the release's removals: deletes the patches no longer listed and
  // records the state.
  bool finish(std::string* error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace publish
