// Turns a release folder (and optionally a clan-icon folder) into the tree an
// HTTP server serves to the launcher, incrementally:
//
//   game output:  <name> for every game file, a zip archive holding it as its
//                 one member <name>; "files.txt", a zip archive holding the
//                 list "files.txt"; files over 2147483647 bytes are listed
//                 in "files-large.txt" instead (release/large_list.h),
//                 which exists only while there are such files.
//   icons output: <name> for every icon, a plain copy; "clan_icons_list.txt".
//
// Order of writing, so that a server never hands out a list that names
// something missing: archives are written to a temporary folder inside the
// output and moved into place one by one; the list follows when all are in
// place; archives of files that left the release go after the new list; the
// state file follows. With a signing key, every file the manifest names is
// also stored under its digest (objects.h), then the signed release manifest
// (release.sig, beside files.txt) that names all of it comes last, then
// objects no kept release names are removed. A run cut
// short leaves the previous list in force and its state, so the next run
// redoes what is missing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "publish/names.h"
#include "release/large_list.h"
#include "publish/patches.h"

namespace publish {

struct PublishOptions {
  std::string releaseDir;
  std::string outputDir;
  Filter filter;                // applies to the release folder
  std::string launcherPath;       // published as "TervalisOnline2D.exe" when set
  std::string linuxLauncherPath;  // published as "TervalisOnline2D" when set
  std::string iconsDir;         // empty: no icons
  std::string iconsOutputDir;
  std::string releaseLabel = "1";  // second field of every list line
  bool fixedStamp = false;         // use `stamp` instead of each file's mtime
  int64_t stamp = 0;
  int level = 6;
  unsigned jobs = 1;
  bool dryRun = false;
  bool rehash = false;  // hash every file, even when size and mtime are unchanged
  bool force = false;   // write every output again
  // Binary patches (see patches.h): earlier release folders, newest first.
  std::vector<std::string> previousDirs;
  // Below 1 MiB a whole file costs little more than a patch's request and
  // its check, so only larger files are patched.
  uint64_t patchMinSize = 1 << 20;
  // Players more releases behind fetch the whole file; each version kept
  // costs server space.
  unsigned patchVersions = 3;
  // A patch is kept when smaller than this share of the file's archive.
  unsigned patchKeepPercent = 50;
  // Files larger than this are patched in pieces of this size; 0: only
  // those one patch frame cannot cover (release/patch_make.h).
  uint64_t patchPieceSize = 0;
  // Files, or their archives, above this size are listed in files-large.txt.
  uint64_t largeFileSize = release::kMaxSmallFileSize;
  // Signing: the secret key file; empty means no release manifest is
  // written (and an existing one is left alone).
  std::string signKeyPath;
  int expiresDays = 30;
  // Objects named by the manifests of this many latest releases stay, so a
  // launcher that read an earlier manifest still finds what it names.
  unsigned keepReleases = 3;
  int64_t signTime = 0;  // seconds since 1970 UTC; 0: the clock's
};

enum class Change { Added, Changed, Removed, Unchanged };

struct TreeReport {
  std::string outputDir;
  std::string listName;
  std::vector<std::pair<std::string, Change>> files;  // by name
  bool listChanged = false;
  bool largeListChanged = false;  // files-large.txt written or removed
  uint64_t largeCount = 0;        // files it lists
  uint64_t fileCount = 0;
  uint64_t byteCount = 0;  // of the published files
  // What a cache may hold an old copy of for launchers that fetch by name:
  // changed and removed files and rewritten lists.
  std::vector<std::string> purge;
  uint64_t count(Change c) const;
};

struct PublishReport {
  TreeReport game;
  TreeReport icons;
  bool hasIcons = false;
  PatchReport patches;
  bool signedRelease = false;  // a manifest was (or, dry, would be) written
  uint64_t release = 0;
  int64_t expires = 0;
  uint64_t objectsWritten = 0;  // new objects, hard links or copies
  uint64_t objectsLinked = 0;   // of those, hard links
  uint64_t objectsRemoved = 0;  // named by none of the kept releases
  std::vector<std::string> notes;  // worth telling the user, not errors
};

// Progress counters, updated by the workers while a reporter reads them.
struct Progress {
  std::atomic<uint64_t> filesTotal{0};
  std::atomic<uint64_t> filesDone{0};
  std::atomic<uint64_t> bytesTotal{0};
  std::atomic<uint64_t> bytesDone{0};
};

// Names the launcher could not install. Filled by publish() when it refuses.
struct Refusal {
  std::vector<NameProblem> problems;
};

// Runs one publication (or, with dryRun, works out what it would change
// without writing anything). On failure returns false with a message; when
// the failure is refused names, `refusal` lists them all.
bool publish(const PublishOptions& options, PublishReport* report, Progress* progress, std::string* error,
             Refusal* refusal);

const char* const kLauncherName = "TervalisOnline2D.exe";
const char* const kLinuxLauncherName = "TervalisOnline2D";

}  // namespace publish
