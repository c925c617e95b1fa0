// Binary patches in an update run: a file of files.txt whose installed
// version the server's patch list knows is fetched as a patch and rebuilt
// in staging from the installed copy, instead of being fetched whole.
//
// The run, in the worker's order:
//   - after the checks, plan() fetches "patches.txt" and then
//     "piece_patches.txt" from the update source (zipped like files.txt,
//     release/patch_list.h) when some file to fetch has a local version; a missing, refused or unreadable list means no
//     patches from it, silently, and the run goes on as it would without. It picks
//     for every entry to fetch the patch whose base is the entry's
//     localDigest and whose target is its digest, and gives the progress
//     total: patch sizes for those entries, list sizes for the rest.
//   - for each entry to fetch, install() fetches its patch into its own
//     staging file, applies it to the installed file into another one,
//     which must have the list's MD5, and moves the result into place the
//     way a fetched plain file is moved (a packed entry's archive holds the
//     installed file's bytes, and the list's MD5 and the patch's target are
//     the MD5 of those bytes, so the result is the installed file and is not
//     unpacked). The installed file is untouched until that one move, so an
//     interrupted run leaves the old file or the new one. On any problem
//     (the patch is missing or refused, does not apply, gives another MD5)
//     install() returns false and the caller fetches the whole file; the
//     progress total grows by its size then. A rebuilt file carries the time
//     it was written, not the archive's.
//
// Staging files, in data\update\ beside update.tmp and removed by the
// constructor (leftovers of an interrupted run) and the destructor:
// "patches.txt" (an unpacked list), "patch.tmp" (the fetched list's
// archive, then each fetched patch) and "patched.tmp" (a rebuilt file).
//
// Thread safety: the update worker's alone, like the Updater.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "release/patch_list.h"
#include "transfer/download.h"
#include "update/file_list.h"
#include "update/release_check.h"
#include "update/updater.h"

namespace tvl {


class PatchRun {
 public:
  // With a signed release (may be null), the patch list and every patch
  // are held to its manifest like any other fetched file (fetchChecked):
  // one it does not name is never requested, and a refused one means no
  // patches, or the whole file.
  PatchRun(Updater& updater, const SignedRelease* release);
  ~PatchRun();
  PatchRun(const PatchRun&) = delete;
  PatchRun& operator=(const PatchRun&) = delete;

  // After the checks: decides which entries that need a download are
  // fetched as patches, fetching the lists first when they could matter;
  // returns the progress total (saturating at INT64_MAX). The
  // entries must stay where they are until the run ends.
  int64_t plan(DownloadSession& session, const std::vector<FileListEntry>& entries);

  // For an entry plan() chose: fetches, applies and installs its patch; true
  // when the new file is in place (or, as for a fetched file, when only the
  // final move failed). False when the entry has no patch or the patch
  // failed: the whole file must then be fetched.
  bool install(DownloadSession& session, const FileListEntry& entry);

  // True when plan() chose a patch for entry.
  bool planned(const FileListEntry& entry) const { return planned_.count(&entry) != 0; }

 private:
  bool patchable(const FileListEntry& entry) const;
  // Adds the entries of one list; a missing or bad list adds none.
  void fetchList(DownloadSession& session, const char* name, uint64_t maxPatchSize);
  bool fetchAndApply(DownloadSession& session, const FileListEntry& entry, const release::PatchEntry& patch);
  void removeStaging();

  Updater& updater_;
  const SignedRelease* release_;
  std::string listFile_;     // data\update\patches.txt
  std::string patchFile_;    // data\update\patch.tmp
  std::string patchedFile_;  // data\update\patched.tmp
  std::vector<release::PatchEntry> patches_;
  std::map<const FileListEntry*, const release::PatchEntry*> planned_;
  int64_t total_ = 0;
};

}  // namespace tvl
