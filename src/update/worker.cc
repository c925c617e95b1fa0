#include "update/worker.h"

#include <string>

#include "platform/fs.h"
#include "platform/restart.h"
#include "transfer/download.h"
#include "transfer/paths.h"
#include "update/updater.h"
#include "update/file_list.h"
#include "update/release_check.h"
#include "update/local_hash.h"

const char kMainList[] = "files.txt";
const char kIconsList[] = "clan_icons_list.txt";
const char kIconsDirectory[] = "data/textures/";
const char kOldLauncherExecutable[] = "TervalisOnline2D.exe.old";
namespace {

UpdateOutcome ended(UpdateEnd end, const FetchResult& fetch = FetchResult()) {
  UpdateOutcome o;
  o.end = end;
  o.status = fetch.status;
  o.overrun = fetch.overrun;
  return o;
}

UpdateOutcome refused(const ReleaseRefusal& release) {
  UpdateOutcome o;
  o.end = UpdateEnd::kReleaseRefused;
  o.release = release;
  return o;
}

// Fetches one list and reads its entries; the list file never outlives the
// run. A stale copy is removed first, so that a list that brings nothing
// cannot be stood in for by an old one.
FetchResult fetchList(Updater& updater, SignedRelease& release, DownloadSession& session, const ServerLocation& source,
                      const char* name, bool packed, const char* entryDirectory) {
  std::string path = baseDir + name;
  platform::removeFile(path);
  if (!release.names(source, name)) return FetchResult();
  FetchResult fetched = release.download(session, source, name, packed, "");
  if (fetched.ok()) loadFileList(updater, source, path, entryDirectory, packed);
  platform::removeFile(path);
  return fetched;
}

// Swaps the new executable in, unless that would repeat for ever: when the
// renames fail the old launcher would fetch the same file and restart
// again, and when this process is itself such a restart the server keeps
// offering an executable that never matches its list entry.
UpdateEnd replaceLauncher(bool restarted) {
  std::string current = baseDir + kLauncherExecutable;
  std::string fresh = baseDir + kNewLauncherExecutable;
  std::string old = baseDir + kOldLauncherExecutable;
  if (restarted) {
    platform::removeFile(fresh);
    return UpdateEnd::kSelfUpdateLoop;
  }
  bool movedAway = platform::moveReplace(current, old);
  bool movedIn = platform::moveReplace(fresh, current);
  if (!movedIn) {
    if (movedAway && !platform::findPath(current)) platform::moveReplace(old, current);
    platform::removeFile(fresh);
    return UpdateEnd::kSelfUpdateFailed;
  }
  platform::makeExecutable(current);
  return UpdateEnd::kRestart;
}

UpdateOutcome runWithProvider(Updater& updater, HttpClient& client, bool restarted) {
  DownloadSession session = updater.session(client);
  SignedRelease release(updater);
  ReleaseRefusal refusal = release.start(session);
  if (refusal.refused()) return refused(refusal);
  // A list the signed release refused fails like a file.
  FetchResult list = fetchList(updater, release, session, updater.updateSource, kMainList, true, "");
  if (!list.ok()) return ended(list.refused ? UpdateEnd::kFileFailed : UpdateEnd::kListFailed, list);
  list = fetchList(updater, release, session, updater.iconsSource, kIconsList, false, kIconsDirectory);
  if (!list.ok()) return ended(list.refused ? UpdateEnd::kFileFailed : UpdateEnd::kListFailed, list);
  if (updater.entries.empty()) return ended(UpdateEnd::kNoEntries);

  // Every check before the first download, so the total is known up front.
  for (FileListEntry& entry : updater.entries) {
    // A name that leads out of the program directory is never fetched.
    entry.needsDownload = isSafeRelativePath(entry.directory + entry.name) && checkLocalFile(updater, entry);
  }
  updater.progress.setBytesTotal(sumDownloadSizes(updater.entries));

  for (const FileListEntry& entry : updater.entries) {
    if (!entry.needsDownload) continue;
    FetchResult fetched = release.download(session, *entry.source, entry.name, entry.packed, entry.directory);
    // A listed file that bears a list's name fails the way a list does,
    // unless the signed release refused it.
    bool asList = isListFile(entry.name) && !fetched.refused;
    if (!fetched.ok()) return ended(asList ? UpdateEnd::kListFailed : UpdateEnd::kFileFailed, fetched);
  }

  if (platform::findPath(baseDir + kNewLauncherExecutable)) return ended(replaceLauncher(restarted));
  return ended(UpdateEnd::kPlay);
}

}  // namespace

UpdateOutcome runUpdate(Updater& updater, HttpClient& client, bool restarted) {
  if (!acquireCryptProvider(updater)) return ended(UpdateEnd::kCannotStart);
  UpdateOutcome outcome = runWithProvider(updater, client, restarted);
  releaseCryptProvider(updater);
  return outcome;
}
