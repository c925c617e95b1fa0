#include "publish/publisher.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/fs.h"
#include "platform/md5.h"
#include "platform/tree.h"
#include "release/manifest.h"
#include "release/large_list.h"
#include "release/patch_list.h"
#include "publish/list_format.h"
#include "publish/objects.h"
#include "publish/pack.h"
#include "publish/pool.h"
#include "publish/signing.h"
#include "publish/state.h"

namespace publish {
namespace {

using platform::joinPath;
using platform::pathInfo;
using platform::PathInfo;
using platform::PathKind;
using platform::removeEmptyDirectory;
using platform::removeFile;
using platform::replaceFile;
using SourceFile = platform::ListedFile;

constexpr char kTempDir[] = ".publish-tmp";
// Clan icons are plain files in a list that has no large counterpart.
constexpr uint64_t kMaxIconSize = release::kMaxSmallFileSize;
constexpr int kMaxExpiresDays = 3650;

enum class Work { None, Verify, Pack };

struct Item {
  SourceFile src;
  int64_t stamp = 0;
  Change change = Change::Unchanged;
  Work work = Work::None;
  const StateEntry* old = nullptr;
  std::string md5;  // known from the state or found by the work
  uint64_t outputSize = 0;
  std::string sha256;  // of the output; known from the state or found when signing
};

struct TreeRun {
  Tree tree = Tree::Game;
  std::string sourceDir;
  std::string outputDir;
  std::string listName;
  std::string packing;
  std::vector<SourceFile> files;
  PublishState old;
  std::vector<Item> items;  // by name
  std::vector<std::string> removed;         // still to delete
  std::vector<std::string> removedReport;  // all that left the release
  PublishState next;                        // what finishTree recorded
  uint64_t largeAbove = UINT64_MAX;         // sizes listed in files-large.txt
  uint64_t largeListSize = 0;               // served files-large.txt; 0: none
  std::string largeListSha256;
  TreeReport* report = nullptr;
  const platform::Md5Provider* md5 = nullptr;

  std::string outPath(const std::string& name) const { return joinPath(outputDir, name); }
  std::string tempDir() const { return joinPath(outputDir, kTempDir); }
};

bool isInside(const std::string& inner, const std::string& outer) {
  if (inner == outer) return true;
  std::string prefix = outer.back() == '/' ? outer : outer + "/";
  return inner.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> parentDirs(const std::string& name) {
  std::vector<std::string> out;
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
    out.push_back(name.substr(0, slash));
  return out;
}

// Deletes the directories above `name` that became empty, innermost first.
void pruneParents(const std::string& outputDir, const std::string& name) {
  std::vector<std::string> dirs = parentDirs(name);
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
    if (!removeEmptyDirectory(joinPath(outputDir, *it))) return;
}

bool scanTree(const std::string& dir, const char* what, std::vector<SourceFile>* files, std::string* error) {
  if (!platform::listFiles(dir, files, error)) {
    *error = "cannot read the " + std::string(what) + " folder: " + *error;
    return false;
  }
  return true;
}

void loadState(TreeRun* run, PublishReport* report) {
  std::string text;
  std::string path = run->outPath(kStateFile);
  if (!readWholeFile(path, &text)) return;  // first run
  bool ok = parseState(text, &run->old);
  // Names in the state are deleted below the output when they leave the
  // release: one that could point elsewhere makes the whole state suspect.
  for (const auto& [name, entry] : run->old.entries) ok = ok && nameProblem(name, run->tree).empty();
  if (!ok) {
    run->old = PublishState();
    report->notes.push_back(path + " is damaged; everything in " + run->outputDir + " is published anew");
  }
}

// Decides, per file, whether its output can stay, must be checked by hash
// first, or must be written.
void plan(TreeRun* run, const PublishOptions& o) {
  std::set<std::string> present;
  bool samePacking = run->old.packing == run->packing && !o.force;
  for (const SourceFile& f : run->files) {
    present.insert(f.name);
    Item it;
    it.src = f;
    it.stamp = stampOf(f.mtimeNs, o.fixedStamp, o.stamp);
    auto s = run->old.entries.find(f.name);
    if (s == run->old.entries.end()) {
      it.change = Change::Added;
      it.work = Work::Pack;
      run->items.push_back(it);
      continue;
    }
    it.old = &s->second;
    PathInfo out = pathInfo(run->outPath(f.name));
    // An archive carries the file's time; a plain icon does not (only its
    // list line does).
    bool outputOk = samePacking && out.kind == PathKind::File && out.size == s->second.outputSize &&
                    (s->second.stamp == it.stamp || run->tree == Tree::Icons);
    bool statSame = s->second.size == f.size && s->second.mtimeNs == f.mtimeNs && !o.rehash;
    if (statSame) {
      it.md5 = s->second.md5;
      it.outputSize = s->second.outputSize;
      it.change = outputOk ? Change::Unchanged : Change::Changed;
      it.work = outputOk ? Work::None : Work::Pack;
      if (outputOk) it.sha256 = s->second.outputSha256;
    } else if (outputOk && s->second.size == f.size) {
      it.change = Change::Unchanged;  // unless the hash says otherwise
      it.work = Work::Verify;
      it.outputSize = s->second.outputSize;
      it.sha256 = s->second.outputSha256;
    } else {
      it.change = Change::Changed;
      it.work = Work::Pack;
    }
    run->items.push_back(it);
  }
  for (const auto& [name, entry] : run->old.entries)
    if (!present.count(name)) run->removed.push_back(name);
  run->removedReport = run->removed;
}

struct Job {
  TreeRun* run;
  size_t index;
};

bool unchangedSince(const SourceFile& f, uint64_t bytesRead, std::string* error) {
  PathInfo now = pathInfo(f.path);
  if (now.kind != PathKind::File || now.size != f.size || now.mtimeNs != f.mtimeNs || bytesRead != f.size) {
    *error = f.path + " changed while it was being published; run again when it is complete";
    return false;
  }
  return true;
}

bool packItem(TreeRun* run, size_t index, const PublishOptions& o, Progress* progress, std::string* error) {
  Item& it = run->items[index];
  std::string temp = joinPath(run->tempDir(), std::to_string(index) + ".tmp");
  PackResult r;
  auto count = [progress](uint64_t n) { progress->bytesDone += n; };
  bool ok = run->tree == Tree::Game
                ? packFile(*run->md5, it.src.path, it.src.name, it.stamp, o.level, temp, &r, error, count)
                : copyFile(*run->md5, it.src.path, temp, &r, error, count);
  ok = ok && unchangedSince(it.src, r.size, error);
  it.sha256.clear();
  // Hashed where it lies, so the digest is of exactly what is moved into place.
  if (ok && !o.signKeyPath.empty()) it.sha256 = r.sha256;
  ok = ok && (o.signKeyPath.empty() || !it.sha256.empty() || sha256OfFile(temp, r.outputSize, &it.sha256, error));
  ok = ok && replaceFile(temp, run->outPath(it.src.name), error);
  if (!ok) {
    std::string ignored;
    removeFile(temp, &ignored);
    return false;
  }
  it.md5 = r.md5;
  it.outputSize = r.outputSize;
  return true;
}

bool doJob(const Job& job, const PublishOptions& o, Progress* progress, std::string* error) {
  Item& it = job.run->items[job.index];
  if (it.work == Work::Verify) {
    PackResult r;
    if (!hashFile(*job.run->md5, it.src.path, &r, error, [progress](uint64_t n) { progress->bytesDone += n; }) ||
        !unchangedSince(it.src, r.size, error))
      return false;
    if (r.md5 == it.old->md5) {
      it.md5 = r.md5;
      progress->filesDone++;
      return true;
    }
    it.change = Change::Changed;
    it.work = Work::Pack;
    if (o.dryRun) {
      progress->filesDone++;
      return true;
    }
    progress->bytesTotal += it.src.size;
  }
  if (!o.dryRun && !packItem(job.run, job.index, o, progress, error)) return false;
  progress->filesDone++;
  return true;
}

bool inLargeList(const TreeRun& run, const Item& it) {
  return it.src.size > run.largeAbove || it.outputSize > run.largeAbove;
}

// The size column feeds only the launcher's progress bar, which counts the
// bytes it receives: so it is the size of what is served (the archive), not
// of the unpacked file, or the bar would stop short of full. Large files go
// to their own list (release/large_list.h).
std::string listText(const TreeRun& run, const std::string& release, bool large) {
  std::string text;
  for (const Item& it : run.items)
    if (inLargeList(run, it) == large) text += formatListLine(it.src.name, release, it.stamp, it.outputSize, it.md5);
  return text;
}

// Moves early the outputs of removed files that stand where a new file needs
// a directory, or that are directories' contents where a new file goes.
bool removeBlockers(TreeRun* run, std::string* error) {
  std::set<std::string> names, dirs;
  for (const Item& it : run->items) {
    names.insert(it.src.name);
    for (const std::string& d : parentDirs(it.src.name)) dirs.insert(d);
  }
  std::vector<std::string> late;
  for (const std::string& r : run->removed) {
    bool blocks = dirs.count(r) > 0;
    for (const std::string& d : parentDirs(r)) blocks = blocks || names.count(d) > 0;
    if (!blocks) {
      late.push_back(r);
      continue;
    }
    if (!removeFile(run->outPath(r), error)) return false;
    pruneParents(run->outputDir, r);
  }
  run->removed.swap(late);
  return true;
}

bool clearTempDir(const TreeRun& run, std::string* error) {
  std::string dir = run.tempDir();
  if (pathInfo(dir).kind == PathKind::Missing) return platform::makeDirectories(dir, error);
  std::vector<SourceFile> stale;
  if (!platform::listFiles(dir, &stale, error)) return false;
  for (const SourceFile& f : stale)
    if (!removeFile(f.path, error)) return false;
  return true;
}

// The time the list carries: the fixed date, or the newest file's.
int64_t listStampOf(const TreeRun& run, const PublishOptions& o) {
  if (run.tree == Tree::Icons) return 0;  // a plain file carries no time
  if (o.fixedStamp) return o.stamp;
  int64_t stamp = kDosEpoch;
  for (const Item& it : run.items) stamp = std::max(stamp, it.stamp);
  return stamp;
}

// Writes the list if its text, time or packing differ from what is served.
bool publishList(TreeRun* run, const PublishOptions& o, PublishState* next, std::string* error) {
  std::string text = listText(*run, o.releaseLabel, false);
  next->listMd5 = platform::md5HexOf(*run->md5, text.data(), text.size());
  if (next->listMd5.empty()) {
    *error = "cannot compute the MD5 of " + run->listName;
    return false;
  }
  next->listStamp = listStampOf(*run, o);

  std::string target = run->outPath(run->listName);
  PathInfo served = pathInfo(target);
  bool same = run->old.packing == run->packing && !o.force && run->old.listMd5 == next->listMd5 &&
              run->old.listStamp == next->listStamp && served.kind == PathKind::File &&
              served.size == run->old.listOutputSize;
  // A dry run has not hashed the files it would write; their lines are unknown.
  for (const Item& it : run->items) same = same && !it.md5.empty();
  run->report->listChanged = !same;
  bool signing = !o.signKeyPath.empty();
  if (same) {
    next->listOutputSize = run->old.listOutputSize;
    next->listSha256 = run->old.listSha256;
    if (signing && !o.dryRun && next->listSha256.empty())
      return sha256OfFile(target, next->listOutputSize, &next->listSha256, error);
    return true;
  }
  if (o.dryRun) return true;
  std::string temp = joinPath(run->tempDir(), "list.tmp");
  if (run->tree == Tree::Game) {
    PackResult r;
    if (!packBytes(*run->md5, text, run->listName, next->listStamp, o.level, temp, &r, error)) return false;
    next->listOutputSize = r.outputSize;
  } else {
    if (!writeWholeFile(temp, text, error)) return false;
    next->listOutputSize = text.size();
  }
  if (signing && !sha256OfFile(temp, next->listOutputSize, &next->listSha256, error)) return false;
  // Everything the new list names must be on disk before the list is.
  platform::flushFileSystem(run->outputDir);
  return replaceFile(temp, target, error);
}

// Writes files-large.txt when its bytes differ from what is served, or
// removes it when no file is that large: a tree without one stays as it
// always was. Small, so it is compared whole instead of kept in the state.
bool publishLargeList(TreeRun* run, const PublishOptions& o, std::string* error) {
  std::string text = listText(*run, o.releaseLabel, true);
  std::string target = run->outPath(release::kLargeListName);
  bool served = pathInfo(target).kind == PathKind::File;
  run->largeListSize = 0;
  run->largeListSha256.clear();
  if (text.empty()) {
    run->report->largeListChanged = served;
    return o.dryRun || !served || removeFile(target, error);
  }
  run->report->largeListChanged = true;
  if (o.dryRun) return true;
  std::string temp = joinPath(run->tempDir(), "large-list.tmp");
  PackResult r;
  if (!packBytes(*run->md5, text, release::kLargeListName, listStampOf(*run, o), o.level, temp, &r, error))
    return false;
  std::string fresh, current;
  if (!readWholeFile(temp, &fresh)) {
    *error = "cannot read back " + temp;
    return false;
  }
  run->largeListSize = fresh.size();
  if (!o.signKeyPath.empty() && !sha256OfFile(temp, fresh.size(), &run->largeListSha256, error)) return false;
  if (served && readWholeFile(target, &current) && current == fresh) {
    run->report->largeListChanged = false;
    return removeFile(temp, error);
  }
  platform::flushFileSystem(run->outputDir);
  return replaceFile(temp, target, error);
}

// `patches` (game tree only) publishes its list after the file list and
// takes away old patches after the old archives.
bool finishTree(TreeRun* run, const PublishOptions& o, Patches* patches, std::string* error) {
  PublishState next;
  next.packing = run->packing;
  for (const Item& it : run->items)
    next.entries[it.src.name] = {it.src.size, it.src.mtimeNs, it.md5, it.stamp, it.outputSize, it.sha256};
  if (!publishList(run, o, &next, error)) return false;
  run->next = next;
  if (run->tree == Tree::Game && !publishLargeList(run, o, error)) return false;
  if (o.dryRun) return true;
  if (patches && !patches->publishList(error)) return false;
  for (const std::string& r : run->removed) {
    if (!removeFile(run->outPath(r), error)) return false;
    pruneParents(run->outputDir, r);
  }
  if (patches && !patches->finish(error)) return false;
  std::string text = serialiseState(next), current;
  std::string temp = joinPath(run->tempDir(), "state.tmp");
  if (!(readWholeFile(run->outPath(kStateFile), &current) && current == text) &&
      (!writeWholeFile(temp, text, error) || !replaceFile(temp, run->outPath(kStateFile), error)))
    return false;
  return true;
}

// What the launcher fetches of both trees, as the manifest names it.
ManifestContent manifestContent(const std::vector<TreeRun*>& runs) {
  ManifestContent c;
  for (const TreeRun* run : runs) {
    bool icon = run->tree == Tree::Icons;
    c.files.push_back({icon, run->listName, run->next.listOutputSize, run->next.listSha256});
    if (run->largeListSize > 0) c.files.push_back({icon, release::kLargeListName, run->largeListSize, run->largeListSha256});
    for (const Item& it : run->items) c.files.push_back({icon, it.src.name, it.outputSize, it.sha256});
  }
  return c;
}

// The patch list and the patches served beside the game files: a launcher
// fetches them instead of whole files, so the manifest names them too.
bool addServedPatches(const std::string& outputDir, ManifestContent* content, std::string* error) {
  std::vector<std::pair<std::string, std::string>> served;  // name as requested, path
  std::string list = joinPath(outputDir, release::kPatchListName);
  if (pathInfo(list).kind == PathKind::File) served.push_back({release::kPatchListName, list});
  std::string pieceList = joinPath(outputDir, release::kPiecePatchListName);
  if (pathInfo(pieceList).kind == PathKind::File) served.push_back({release::kPiecePatchListName, pieceList});
  std::string dir = joinPath(outputDir, "patches");
  if (pathInfo(dir).kind == PathKind::Directory) {
    std::vector<platform::ListedFile> files;
    if (!platform::listFiles(dir, &files, error)) return false;
    for (const platform::ListedFile& f : files) served.push_back({"patches/" + f.name, f.path});
  }
  for (const auto& f : served) {
    ManifestFile m;
    m.name = f.first;
    m.size = pathInfo(f.second).size;
    if (!sha256OfFile(f.second, m.size, &m.sha256, error)) return false;
    content->files.push_back(m);
  }
  return true;
}

// The marker that tells launchers this origin serves objects.
bool addObjectsMarker(const TreeRun& run, ManifestContent* content, std::string* error) {
  std::string path = run.outPath(release::kObjectsMarkerName), current;
  if (!(readWholeFile(path, &current) && current == release::kObjectsMarkerText)) {
    std::string temp = joinPath(run.tempDir(), "marker.tmp");
    if (!platform::makeDirectories(platform::joinPath(run.outputDir, "objects"), error) ||
        !writeWholeFile(temp, release::kObjectsMarkerText, error) || !replaceFile(temp, path, error))
      return false;
  }
  ManifestFile m;
  m.icon = run.tree == Tree::Icons;
  m.name = release::kObjectsMarkerName;
  m.size = std::string(release::kObjectsMarkerText).size();
  if (!sha256OfFile(path, m.size, &m.sha256, error)) return false;
  content->files.push_back(m);
  return true;
}

// Objects of releases no longer kept go once the new manifest is in place.
// A failure here leaves extra objects, never missing ones: a note, not an error.
void pruneReleases(const TreeRun& game, const std::vector<TreeRun*>& runs, const std::string& manifest,
                   const PublishOptions& o, PublishReport* report) {
  std::string storeDir = game.outPath(kReleasesDir), error;
  ObjectCounts counts;
  bool ok = rememberRelease(storeDir, manifest, o.keepReleases, &error);
  for (const TreeRun* run : runs) {
    std::set<std::string> keep;
    ok = ok && digestsKept(storeDir, run->tree == Tree::Icons, &keep, &error) &&
         pruneObjects(run->outputDir, keep, &counts, &error);
  }
  report->objectsRemoved = counts.removed;
  if (!ok) report->notes.push_back("old objects were not removed: " + error);
}

// Objects first, then the signed manifest, when everything it names is in
// place, then the pruning.
bool writeReleaseManifest(const TreeRun& game, const std::vector<TreeRun*>& runs, const SigningKey& key,
                          const PublishOptions& o, PublishReport* report, std::string* error) {
  ManifestContent content = manifestContent(runs);
  if (!addServedPatches(game.outputDir, &content, error)) return false;
  for (const TreeRun* run : runs)
    if (!addObjectsMarker(*run, &content, error)) return false;
  content.release = report->release;
  content.expires = report->expires;
  std::string text;
  if (!key.sign(content, &text, error)) return false;
  std::vector<ObjectFile> objects;
  for (const ManifestFile& f : content.files) {
    const TreeRun& run = f.icon ? *runs.back() : game;
    objects.push_back({run.outputDir, run.tempDir(), run.outPath(f.name), f.size, f.sha256});
  }
  ObjectCounts counts;
  if (!storeObjects(objects, *game.md5, &counts, error)) return false;
  report->objectsWritten = counts.written;
  report->objectsLinked = counts.linked;
  // The release served until now keeps its objects too, also when it was
  // signed before any was remembered.
  std::string previous;
  if (readWholeFile(game.outPath(kManifestName), &previous) &&
      !rememberRelease(game.outPath(kReleasesDir), previous, o.keepReleases, error))
    return false;
  std::string temp = joinPath(game.tempDir(), "manifest.tmp");
  if (!writeWholeFile(temp, text, error)) return false;
  platform::flushFileSystem(game.outputDir);
  for (const TreeRun* run : runs) platform::flushFileSystem(run->outputDir);
  if (!replaceFile(temp, game.outPath(kManifestName), error)) return false;
  pruneReleases(game, runs, text, o, report);
  return true;
}

void fillReport(const TreeRun& run) {
  TreeReport& r = *run.report;
  r.files.clear();
  for (const Item& it : run.items) {
    r.files.emplace_back(it.src.name, it.change);
    r.byteCount += it.src.size;
  }
  for (const std::string& name : run.removedReport) r.files.emplace_back(name, Change::Removed);
  std::sort(r.files.begin(), r.files.end());
  r.purge.clear();
  if (r.listChanged) r.purge.push_back(run.listName);
  if (r.largeListChanged) r.purge.push_back(release::kLargeListName);
  for (const auto& [name, change] : r.files)
    if (change == Change::Changed || change == Change::Removed) r.purge.push_back(name);
  r.fileCount = run.items.size();
  r.largeCount = static_cast<uint64_t>(
      std::count_if(run.items.begin(), run.items.end(), [&](const Item& it) { return inLargeList(run, it); }));
}

// One publisher run at a time per output folder.
bool lockOutput(platform::LockFile* lock, const std::string& dir, std::string* error) {
  bool busy = false;
  if (lock->acquire(joinPath(dir, ".publish-lock"), &busy, error)) return true;
  if (busy) *error = "another tervalis-publish is writing " + dir;
  return false;
}

bool checkFolders(const PublishOptions& o, std::string* error) {
  struct Folder {
    const char* what;
    std::string path;
    bool output;
  };
  std::vector<Folder> folders = {{"release folder", platform::absolutePath(o.releaseDir), false},
                                 {"output folder", platform::absolutePath(o.outputDir), true}};
  if (!o.iconsDir.empty()) {
    folders.push_back({"icons folder", platform::absolutePath(o.iconsDir), false});
    folders.push_back({"icons output folder", platform::absolutePath(o.iconsOutputDir), true});
  }
  // An output inside an input would publish itself; outputs inside each other
  // would delete each other's files.
  for (size_t i = 0; i < folders.size(); ++i)
    for (size_t j = 0; j < folders.size(); ++j) {
      if (i == j || !folders[i].output) continue;
      if (isInside(folders[i].path, folders[j].path) || isInside(folders[j].path, folders[i].path)) {
        *error = std::string("the ") + folders[i].what + " (" + folders[i].path + ") and the " + folders[j].what +
                 " (" + folders[j].path + ") must not lie inside one another";
        return false;
      }
    }
  return true;
}

}  // namespace

uint64_t TreeReport::count(Change c) const {
  uint64_t n = 0;
  for (const auto& f : files) n += f.second == c;
  return n;
}

bool publish(const PublishOptions& o, PublishReport* report, Progress* progress, std::string* error,
             Refusal* refusal) {
  *report = PublishReport();
  std::string problem = releaseLabelProblem(o.releaseLabel);
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  if (o.level < 0 || o.level > 9) {
    *error = "compression level must be 0 to 9";
    return false;
  }
  if (!checkFolders(o, error)) return false;
  platform::Md5Provider md5;
  if (!md5.acquire(error)) return false;
  Patches patches(o, md5, o.outputDir, joinPath(o.outputDir, kTempDir), &report->patches);
  if (!patches.check(error)) return false;
  bool signing = !o.signKeyPath.empty();
  SigningKey key;
  if (signing) {
    if (o.expiresDays < 1 || o.expiresDays > kMaxExpiresDays) {
      *error = "the manifest must expire in 1 to " + std::to_string(kMaxExpiresDays) + " days";
      return false;
    }
    if (!key.load(o.signKeyPath, error)) return false;
  }

  TreeRun game, icons;
  game.tree = Tree::Game;
  game.sourceDir = o.releaseDir;
  game.outputDir = o.outputDir;
  game.listName = "files.txt";
  game.largeAbove = o.largeFileSize;
  game.packing = "zip-1 level " + std::to_string(o.level);
  game.report = &report->game;
  game.md5 = &md5;
  report->game.outputDir = o.outputDir;
  report->game.listName = game.listName;
  std::vector<TreeRun*> runs = {&game};
  report->hasIcons = !o.iconsDir.empty();
  if (report->hasIcons) {
    icons.tree = Tree::Icons;
    icons.sourceDir = o.iconsDir;
    icons.outputDir = o.iconsOutputDir;
    icons.listName = "clan_icons_list.txt";
    icons.packing = "plain-1";
    icons.report = &report->icons;
    icons.md5 = &md5;
    report->icons.outputDir = o.iconsOutputDir;
    report->icons.listName = icons.listName;
    runs.push_back(&icons);
  }

  // What is published.
  std::vector<SourceFile> all;
  if (!scanTree(o.releaseDir, "release", &all, error)) return false;
  for (SourceFile& f : all)
    if (o.filter.accepts(f.name)) game.files.push_back(std::move(f));
  // Each launcher under the name its installs run it by; one server can
  // carry both, each an ordinary file for the other kind of install.
  const std::pair<const char*, const std::string*> launchers[] = {{kLauncherName, &o.launcherPath},
                                                                  {kLinuxLauncherName, &o.linuxLauncherPath}};
  for (const auto& launcher : launchers) {
    const std::string& path = *launcher.second;
    if (path.empty()) continue;
    PathInfo exe = pathInfo(path);
    if (exe.kind != PathKind::File) {
      *error = "the launcher " + path + " is not a readable file";
      return false;
    }
    for (auto it = game.files.begin(); it != game.files.end();) {
      if (asciiLower(it->name) == asciiLower(launcher.first)) {
        report->notes.push_back(it->name + " of the release is replaced by " + path);
        it = game.files.erase(it);
      } else {
        ++it;
      }
    }
    game.files.push_back({launcher.first, path, exe.size, exe.mtimeNs});
  }
  if (report->hasIcons && !scanTree(o.iconsDir, "icons", &icons.files, error)) return false;
  for (TreeRun* run : runs)
    std::sort(run->files.begin(), run->files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });

  // Refuse what the launcher could not install, all at once.
  std::vector<std::string> gameNames, iconNames;
  for (const SourceFile& f : game.files) gameNames.push_back(f.name);
  for (const SourceFile& f : icons.files) iconNames.push_back(f.name);
  refusal->problems = checkNames(gameNames, iconNames);
  for (const std::string& n : gameNames) {
    std::string reason = patches.reservedReason(n);
    if (!reason.empty()) refusal->problems.push_back({n, reason});
  }
  // The object store lives there in both outputs.
  if (signing)
    for (const std::vector<std::string>* names : {&gameNames, &iconNames})
      for (const std::string& n : *names)
        if (asciiLower(n).compare(0, 8, "objects/") == 0 || asciiLower(n) == "objects")
          refusal->problems.push_back({names == &iconNames ? "clan icon " + n : n,
                                       "objects/ holds the signed release's objects"});
  uint64_t gameBytes = 0, largeFiles = 0;
  for (const SourceFile& f : game.files) {
    // What older launchers see: files.txt alone.
    if (f.size <= o.largeFileSize) gameBytes += f.size;
    largeFiles += f.size > o.largeFileSize;
  }
  for (const SourceFile& f : icons.files)
    if (f.size > kMaxIconSize)
      refusal->problems.push_back({"clan icon " + f.name, std::to_string(f.size) + " bytes; the launcher handles at most " +
                                                              std::to_string(kMaxIconSize) + " bytes per icon"});
  if (!refusal->problems.empty()) {
    std::sort(refusal->problems.begin(), refusal->problems.end(),
              [](const NameProblem& a, const NameProblem& b) { return a.name < b.name; });
    *error = "refusing " + std::to_string(refusal->problems.size()) +
             (refusal->problems.size() == 1 ? " file" : " files") + " the launcher could not install";
    return false;
  }
  if (game.files.empty()) report->notes.push_back("the release holds no files to publish");
  size_t nonAscii = 0;
  for (TreeRun* run : runs)
    for (const SourceFile& f : run->files)
      nonAscii += std::any_of(f.name.begin(), f.name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (nonAscii > 0)
    report->notes.push_back(std::to_string(nonAscii) +
                            " names hold non-ASCII bytes; the launcher takes names as bytes of its ANSI code page "
                            "(e.g. Windows-1251), so publish them from a system that spells them the same way");
  if (largeFiles > 0)
    report->notes.push_back(std::to_string(largeFiles) + (largeFiles == 1 ? " file is" : " files are") +
                            " over " + std::to_string(o.largeFileSize) + " bytes and listed in " + release::kLargeListName +
                            ", which launchers before 64-bit sizes never read: publish the current launcher "
                            "(--launcher) with this release, so that they replace themselves first");
  if (gameBytes > release::kMaxSmallFileSize)
    report->notes.push_back("files.txt lists " + std::to_string(gameBytes) +
                            " bytes; a launcher before 64-bit sizes that must fetch more than 2147483647 bytes in "
                            "one update shows a wrong progress total");

  // Hold the outputs, then plan against what the last run left.
  platform::LockFile locks[2];
  for (size_t i = 0; i < runs.size(); ++i) {
    TreeRun* run = runs[i];
    if (!o.dryRun) {
      if (!platform::makeDirectories(run->outputDir, error) || !lockOutput(&locks[i], run->outputDir, error) ||
          !clearTempDir(*run, error))
        return false;
    }
    loadState(run, report);
    plan(run, o);
  }

  if (signing) {
    // Grows from run to run, and past any earlier release even when the
    // output folder starts afresh: the publishing time, unless the release
    // served now already has that number or a later one.
    int64_t now = o.signTime != 0 ? o.signTime : static_cast<int64_t>(std::time(nullptr));
    uint64_t previous = servedReleaseNumber(game.outPath(kManifestName));
    if (previous >= static_cast<uint64_t>(INT64_MAX)) {
      *error = "the served " + std::string(kManifestName) + " carries the highest release number there is";
      return false;
    }
    report->signedRelease = true;
    report->release = std::max(previous + 1, static_cast<uint64_t>(std::max<int64_t>(now, 1)));
    report->expires = now + static_cast<int64_t>(o.expiresDays) * 86400;
    if (!report->hasIcons)
      report->notes.push_back(std::string(kManifestName) +
                              " names no clan icons: launchers built with a public key fetch none; sign them in "
                              "the same run with --icons and --icons-output");
  } else if (pathInfo(game.outPath(kManifestName)).kind != PathKind::Missing) {
    report->notes.push_back(game.outPath(kManifestName) +
                            " is left from a signed run and no longer describes this release; launchers built "
                            "with a public key refuse its files until you publish with --sign-key");
  }

  std::vector<Job> jobs;
  for (TreeRun* run : runs) {
    if (!o.dryRun && !removeBlockers(run, error)) return false;
    for (size_t i = 0; i < run->items.size(); ++i) {
      const Item& it = run->items[i];
      if (it.work == Work::None || (o.dryRun && it.work == Work::Pack)) continue;
      jobs.push_back({run, i});
      progress->bytesTotal += it.src.size;
      if (!o.dryRun)
        for (const std::string& d : parentDirs(it.src.name))
          if (!platform::makeDirectories(run->outPath(d), error)) return false;
    }
  }
  // Largest first, so one big file does not finish alone at the end.
  std::stable_sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) {
    return a.run->items[a.index].src.size > b.run->items[b.index].src.size;
  });
  progress->filesTotal = jobs.size();
  if (!runPool(o.jobs, jobs.size(), [&](size_t i, std::string* e) { return doJob(jobs[i], o, progress, e); }, error))
    return false;

  std::vector<PatchTarget> targets;
  for (const Item& it : game.items)
    targets.push_back({it.src.name, it.src.path, it.src.size, it.src.mtimeNs, it.md5, it.outputSize});
  if (!patches.make(targets, listStampOf(game, o), progress, error)) return false;
  if (signing && !o.dryRun) {
    // Outputs kept from earlier runs whose SHA-256 the state does not know.
    std::vector<Job> hashJobs;
    for (TreeRun* run : runs)
      for (size_t i = 0; i < run->items.size(); ++i)
        if (run->items[i].sha256.empty()) {
          hashJobs.push_back({run, i});
          progress->bytesTotal += run->items[i].outputSize;
        }
    progress->filesTotal += hashJobs.size();
    auto hashOutput = [&](const Job& j, std::string* e) {
      Item& it = j.run->items[j.index];
      if (!sha256OfFile(j.run->outPath(it.src.name), it.outputSize, &it.sha256, e)) return false;
      progress->bytesDone += it.outputSize;
      progress->filesDone++;
      return true;
    };
    if (!runPool(o.jobs, hashJobs.size(), [&](size_t i, std::string* e) { return hashOutput(hashJobs[i], e); }, error))
      return false;
  }

  for (TreeRun* run : runs) {
    if (!finishTree(run, o, run == &game ? &patches : nullptr, error)) return false;
    fillReport(*run);
  }
  if (!o.dryRun) {
    for (const std::string& list : report->patches.changedLists) report->game.purge.push_back(list);
    std::sort(report->game.purge.begin(), report->game.purge.end());
  }
  if (signing && !o.dryRun && !writeReleaseManifest(game, runs, key, o, report, error)) return false;
  if (!o.dryRun)
    for (TreeRun* run : runs) removeEmptyDirectory(run->tempDir());
  return true;
}

}  // namespace publish
