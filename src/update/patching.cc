#include "update/patching.h"

#include <unordered_map>

#include "base/text.h"
#include "platform/fs.h"
#include "release/patch_apply.h"
#include "transfer/archive.h"
#include "transfer/paths.h"

namespace tvl {


namespace {

// The staging names below baseDir, as the archive reader takes targets.
const char kListTarget[] = "data\\update\\patches.txt";

// Reads the one member of the zipped list at zipPath into text, through the
// unpacked copy at listPath (removed again).
bool unpackList(const std::string& zipPath, const std::string& listPath, std::string* text) {
  ArchiveReader* reader = openArchive(zipPath);
  if (!reader) return false;
  ArchiveItem item;
  bool ok = getArchiveItem(reader, -1, item) == kArchiveOk && item.index == 1 &&
            getArchiveItem(reader, 0, item) == kArchiveOk && item.uncompressedSize <= release::kMaxPatchListBytes &&
            setArchiveBaseDir(reader, baseDir) == kArchiveOk &&
            extractArchiveItem(reader, 0, kListTarget) == kArchiveOk;
  closeArchive(reader);
  if (!ok) return false;
  platform::File file = platform::File::openExclusiveRead(listPath);
  uint64_t size = 0;
  ok = file.valid() && file.size(&size) && size <= release::kMaxPatchListBytes;
  if (ok && size > 0) {
    platform::MappedView view = platform::MappedView::map(file, size);
    ok = view.valid();
    if (ok) text->assign(reinterpret_cast<const char*>(view.data()), view.size());
  }
  file.close();
  platform::removeFile(listPath);
  return ok;
}

}  // namespace

PatchRun::PatchRun(Updater& updater, const SignedRelease* release)
    : updater_(updater),
      release_(release),
      listFile_(dataPath("update\\patches.txt")),
      patchFile_(dataPath("update\\patch.tmp")),
      patchedFile_(dataPath("update\\patched.tmp")) {
  removeStaging();
}

PatchRun::~PatchRun() { removeStaging(); }

void PatchRun::removeStaging() {
  for (const std::string* path : {&listFile_, &patchFile_, &patchedFile_}) platform::removeFile(*path);
}

void PatchRun::fetchList(DownloadSession& session, const char* name, uint64_t maxPatchSize) {
  // A signed release that does not name the list has none: never asked for.
  if (release_ && !release_->names(updater_.updateSource, name)) return;
  // The display keeps showing the main list while this one arrives.
  DownloadSession staging{session.client, session.progress, patchFile_, session.game};
  FetchResult fetched = fetchChecked(updater_, release_, staging, updater_.updateSource, name, FetchTarget{"", 0, true});
  std::string text, error;
  std::vector<release::PatchEntry> entries;
  if (fetched.ok() && unpackList(patchFile_, listFile_, &text) &&
      parsePatchList(text.data(), text.size(), &entries, &error, maxPatchSize))
    patches_.insert(patches_.end(), entries.begin(), entries.end());
  platform::removeFile(patchFile_);
}

bool PatchRun::patchable(const FileListEntry& entry) const {
  // Only files of files.txt that have a local version, and never the
  // launcher (it is installed beside itself) or a list.
  return entry.needsDownload && entry.source == &updater_.updateSource && entry.directory.empty() &&
         !entry.localDigest.empty() && !equalsNoCase(entry.name, kLauncherExecutable) && !isListFile(entry.name);
}

int64_t PatchRun::plan(DownloadSession& session, const std::vector<FileListEntry>& entries) {
  planned_.clear();
  total_ = 0;
  bool anyPatchable = false, anyPieces = false;
  for (const FileListEntry& entry : entries) {
    if (entry.needsDownload) total_ = saturatingAdd(total_, entry.size);
    if (!patchable(entry)) continue;
    anyPatchable = true;
    // Only a file larger than one piece can have a piece-wise patch: runs
    // without one never ask for that list.
    anyPieces = anyPieces || static_cast<uint64_t>(entry.size) > release::kMinPieceSize ||
                platform::pathInfo(baseDir + entry.name).size > release::kMinPieceSize;
  }
  // A run that has nothing a patch could help with asks for no list.
  if (!anyPatchable) return total_;
  patches_.clear();
  fetchList(session, release::kPatchListName, release::kMaxPatchSize);
  if (anyPieces) fetchList(session, release::kPiecePatchListName, release::kMaxPiecePatchSize);

  std::unordered_multimap<std::string, const release::PatchEntry*> byName;
  for (const release::PatchEntry& p : patches_) byName.emplace(p.name, &p);
  for (const FileListEntry& entry : entries) {
    if (!patchable(entry)) continue;
    auto range = byName.equal_range(entry.name);
    for (auto it = range.first; it != range.second; ++it) {
      const release::PatchEntry& p = *it->second;
      if (p.baseMd5 == entry.localDigest && p.targetMd5 == entry.digest) {
        planned_[&entry] = &p;
        break;
      }
    }
  }
  // Summed afresh rather than adjusted, so that a bound reached on the way
  // cannot skew it.
  total_ = 0;
  for (const FileListEntry& entry : entries) {
    if (!entry.needsDownload) continue;
    auto it = planned_.find(&entry);
    int64_t cost = entry.size;
    if (it != planned_.end())
      cost = it->second->size > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(it->second->size);
    total_ = saturatingAdd(total_, cost);
  }
  return total_;
}

bool PatchRun::install(DownloadSession& session, const FileListEntry& entry) {
  auto it = planned_.find(&entry);
  if (it == planned_.end()) return false;
  if (fetchAndApply(session, entry, *it->second)) return true;
  removeStaging();
  // What is really fetched: the whole file comes on top of the patch.
  total_ = saturatingAdd(total_, entry.size);
  session.progress.setBytesTotal(total_);
  session.progress.notify();
  return false;
}

bool PatchRun::fetchAndApply(DownloadSession& session, const FileListEntry& entry, const release::PatchEntry& patch) {
  session.progress.setCurrentFile(entry.name);
  session.progress.notify();
  DownloadSession staging{session.client, session.progress, patchFile_, session.game};
  // Not kept across runs (size 0): a partial patch is worth little.
  if (!fetchChecked(updater_, release_, staging, *entry.source, patch.path, FetchTarget()).ok()) return false;

  std::string target = baseDir + entry.directory + entry.name;
  release::PatchApplyResult applied =
      release::applyPatch(updater_.cryptProvider, target, patchFile_, patchedFile_, entry.digest);
  platform::removeFile(patchFile_);
  if (!applied.ok()) return false;

  // The move a fetched file makes; a read-only target must not block it,
  // and keeps its attributes when the move fails anyway.
  uint32_t oldAttributes = 0;
  bool hadTarget = platform::getAttributes(target, &oldAttributes);
  platform::setNormalAttributes(target);
  if (!platform::moveReplace(patchedFile_, target)) {
    platform::removeFile(patchedFile_);
    if (hadTarget && !(oldAttributes & platform::kAttrDirectory)) platform::setAttributes(target, oldAttributes);
  }
  return true;
}

}  // namespace tvl
