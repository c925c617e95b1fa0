#include "update/worker.h"

#include <string>

#include "platform/fs.h"
#include "platform/restart.h"
#include "platform/tree.h"
#include "release/large_list.h"
#include "transfer/download.h"
#include "transfer/paths.h"
#include "transfer/rate_limit.h"
#include "transfer/resilient_fetch.h"
#include "transfer/support_log.h"
#include "update/updater.h"
#include "update/fetch_queue.h"
#include "update/file_list.h"
#include "update/release_check.h"
#include "update/check_index.h"
#include "update/local_hash.h"
#include "update/patching.h"
#include "update/space_check.h"

namespace tvl {


const char kMainList[] = "files.txt";
const char kIconsList[] = "clan_icons_list.txt";
const char kIconsDirectory[] = "data/textures/";
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
// cannot be stood in for by an old one. A server that answers with an error
// status has no such list: that is a list without entries (its error page is
// never read), and only a list that cannot be fetched at all fails. A signed
// release that does not name the list has none; one that names it has it,
// so there an error status fails like a list that could not be fetched:
// otherwise whoever answers for the server could hold back part of a release.
FetchResult fetchList(Updater& updater, SignedRelease& release, DownloadSession& session, const ServerLocation& source,
                      const char* name, bool packed, const char* entryDirectory) {
  std::string path = baseDir + name;
  platform::removeFile(path);
  if (!release.names(source, name)) return FetchResult();
  session.progress.setCurrentFile(name);
  session.progress.notify();
  FetchResult fetched = fetchChecked(updater, &release, session, source, name, FetchTarget{"", 0, packed});
  if (fetched.ok()) {
    uint32_t installed = installFetchedFile(session, name, packed, "");
    if (installed != 0) fetched.status = Status::error(installed, source.path + name);
  }
  if (fetched.ok()) loadFileList(updater, source, path, entryDirectory, packed);
  platform::removeFile(path);
  return fetched.errorStatus && !release.enabled() ? FetchResult() : fetched;
}

// Swaps the new executable in, unless that would repeat for ever: when the
// renames fail the old launcher would fetch the same file and restart
// again, and when this process is itself such a restart the server keeps
// offering an executable that never matches its list entry.
UpdateEnd replaceLauncher(const std::string& launcherName, bool restarted) {
  std::string current = baseDir + launcherName;
  std::string fresh = current + ".new";
  std::string old = current + ".old";
  if (restarted) {
    platform::removeFile(fresh);
    return UpdateEnd::kSelfUpdateLoop;
  }
  // A power cut must not leave a launcher entry naming bytes that never
  // reached the disk: the new file is flushed before the swap, and the swap
  // is on the disk before the restart.
  std::string error;
  bool flushed = platform::flushFile(fresh, &error);
  bool movedAway = flushed && platform::moveReplace(current, old);
  bool movedIn = flushed && platform::moveDurably(fresh, current, &error);
  if (!movedIn) {
    supportLog().note("self-update: " + error);
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
  // A rebuilt file is proved by the signed list's MD5 and a patch the
  // release named.
  PatchRun patches(updater, &release);
  // A list the signed release refused fails like a file.
  FetchResult list = fetchList(updater, release, session, updater.updateSource, kMainList, true, "");
  if (!list.ok()) return ended(list.refused ? UpdateEnd::kFileFailed : UpdateEnd::kListFailed, list);
  // Files over 2 GiB, listed apart so that launchers before 64-bit sizes
  // never see them; absent on most servers.
  list = fetchList(updater, release, session, updater.updateSource, release::kLargeListName, true, "");
  if (!list.ok()) return ended(list.refused ? UpdateEnd::kFileFailed : UpdateEnd::kListFailed, list);
  list = fetchList(updater, release, session, updater.iconsSource, kIconsList, false, kIconsDirectory);
  if (!list.ok()) return ended(list.refused ? UpdateEnd::kFileFailed : UpdateEnd::kListFailed, list);
  if (updater.entries.empty()) return ended(UpdateEnd::kNoEntries);

  // Every check before the first download, so the total is known up front.
  // The index is written here: files this run installs are not in it (their
  // bytes are read at the next start), so a killed run leaves it safe.
  LocalCheck local(updater, restarted);
  for (FileListEntry& entry : updater.entries) {
    // A name that leads out of the program directory is never fetched.
    entry.needsDownload = isSafeRelativePath(entry.directory + entry.name) && local.check(entry);
  }
  local.finish();

  // Room on disk for all of it, before any file is requested.
  VolumeNeed shortage;
  if (!checkSpaceForRun(updater, &shortage)) {
    supportLog().note("space: need " + std::to_string(shortage.needBytes) + " bytes, free " +
                      std::to_string(shortage.freeBytes) + " bytes on " + shortage.volume);
    UpdateOutcome o = ended(UpdateEnd::kNoSpace);
    o.space = shortage;
    return o;
  }

  // What is really fetched: a patch instead of a file that has one.
  updater.progress.setBytesTotal(patches.plan(session, updater.entries));

  FetchFailure failure;
  if (!fetchEntries(updater, client, updater.options.connections, &patches, &release, &failure)) {
    // A listed file that bears a list's name fails the way a list does,
    // unless the signed release refused it.
    bool list = isListFile(failure.entry->name) && !failure.result.refused;
    return ended(list ? UpdateEnd::kListFailed : UpdateEnd::kFileFailed, failure.result);
  }
  release.recordInstalled();

  if (platform::findPath(baseDir + updater.launcherName + ".new"))
    return ended(replaceLauncher(updater.launcherName, restarted));
  return ended(UpdateEnd::kPlay);
}

const char* endName(UpdateEnd end) {
  switch (end) {
    case UpdateEnd::kPlay: return "play";
    case UpdateEnd::kRestart: return "restart";
    case UpdateEnd::kCannotStart: return "cannot start";
    case UpdateEnd::kListFailed: return "list failed";
    case UpdateEnd::kFileFailed: return "file failed";
    case UpdateEnd::kNoEntries: return "no entries";
    case UpdateEnd::kSelfUpdateFailed: return "self-update failed";
    case UpdateEnd::kSelfUpdateLoop: return "self-update loop";
    case UpdateEnd::kReleaseRefused: return "release refused";
    case UpdateEnd::kNoSpace: return "no space";
  }
  return "?";
}

// The run's last line in the support log.
std::string endText(const UpdateOutcome& o) {
  std::string text = std::string("end: ") + endName(o.end);
  if (!o.status.isOk())
    text += ", error " + std::to_string(static_cast<int32_t>(o.status.code())) + " " + o.status.message();
  return text;
}

}  // namespace

UpdateOutcome runUpdate(Updater& updater, HttpClient& client, bool restarted) {
  // Before the log and the staging: a second launcher on this install
  // waits here until the first one's run has ended.
  platform::LockFile lock;
  bool held = holdStaging(updater, &lock);
  supportLog().start(baseDir + kSupportLogName, updater.launcherName + (restarted ? " restarted" : "") +
                                                    ", download_connections " +
                                                    std::to_string(updater.options.connections) +
                                                    ", download_retries " + std::to_string(updater.options.retries) +
                                                    (updater.options.checkIndex
                                                         ? ", check_index 1, full_check_days " +
                                                               std::to_string(updater.options.fullCheckDays)
                                                         : "") +
                                                    (updater.options.limitKbps > 0
                                                         ? ", download_limit_kbps " +
                                                               std::to_string(updater.options.limitKbps)
                                                         : ""));
  if (!held) supportLog().note("the update folder could not be locked");
  // One budget for every transfer of the run, lists and patches included.
  RateLimiter limiter(updater.options.limitKbps * kRateUnitBytes);
  LimitedHttpClient limited(client, limiter);
  HttpClient& transfers = updater.options.limitKbps > 0 ? static_cast<HttpClient&>(limited) : client;
  UpdateOutcome outcome;
  if (!acquireCryptProvider(updater)) {
    outcome = ended(UpdateEnd::kCannotStart);
  } else {
    outcome = runWithProvider(updater, transfers, restarted);
    releaseCryptProvider(updater);
  }
  supportLog().note(endText(outcome));
  supportLog().stop();
  return outcome;
}

}  // namespace tvl
