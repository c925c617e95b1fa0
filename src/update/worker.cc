#include "update/worker.h"

#include <string>

#include "launcher/launch.h"
#include "platform/fs.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/restart.h"
#include "transfer/download.h"
#include "transfer/paths.h"
#include "transfer/updater.h"
#include "update/file_list.h"
#include "update/local_hash.h"

const char kMainList[] = "files.txt";
const char kIconsList[] = "clan_icons_list.txt";
const char kIconsDirectory[] = "data/textures/";
const char kListErrorText[] = "Can't load list file ";
const char kListErrorCaption[] = "File list reading error";
const char kOldLauncherExecutable[] = "TervalisOnline2D.exe.old";
const char kSelfUpdateCaption[] = "Launcher update error";
const char kSelfUpdateFailedText[] =
    "The new version of the launcher could not be put in place of TervalisOnline2D.exe.\n"
    "Please make sure the game folder is writable. The game starts with the current launcher.";
const char kSelfUpdateLoopText[] =
    "The launcher has just updated itself, but the update server offers yet another TervalisOnline2D.exe.\n"
    "It is not installed again, to avoid an endless restart. The game starts with the current launcher.";

namespace {

void removeFile(const std::string& path) {
  platform::setNormalAttributes(path);
  platform::deleteFile(path);
}

// Fetches one list and reads its entries; the list file never outlives the
// run. A stale copy is removed first, so that a list that brings nothing
// cannot be stood in for by an old one.
void fetchList(Updater& updater, const ServerLocation& source, const char* name, bool packed,
               const char* entryDirectory) {
  std::string path = baseDir + name;
  removeFile(path);
  downloadFile(updater, source, name, 0, packed, "");
  loadFileList(updater, source, path, entryDirectory, packed);
  removeFile(path);
}

[[noreturn]] void giveUpSelfUpdate(Updater& updater, const char* text) {
  removeFile(baseDir + kNewLauncherExecutable);
  platform::messageBox(text, kSelfUpdateCaption, platform::kMbOk | platform::kMbIconError);
  releaseCryptProvider(updater);
  launchGame(updater);
}

// Swaps the new executable in and restarts it, unless that would repeat for
// ever: when the renames fail the old launcher would fetch the same file and
// restart again, and when this process is itself such a restart the server
// keeps offering an executable that never matches its list entry.
[[noreturn]] void replaceLauncherAndRestart(Updater& updater, bool restarted) {
  if (restarted) giveUpSelfUpdate(updater, kSelfUpdateLoopText);
  std::string current = baseDir + kLauncherExecutable;
  std::string fresh = baseDir + kNewLauncherExecutable;
  std::string old = baseDir + kOldLauncherExecutable;
  bool movedAway = platform::moveReplace(current, old);
  bool movedIn = platform::moveReplace(fresh, current);
  if (!movedIn) {
    if (movedAway && !platform::findPath(current)) platform::moveReplace(old, current);
    giveUpSelfUpdate(updater, kSelfUpdateFailedText);
  }
  platform::makeExecutable(current);
  platform::setRestartMark();
  restartSelf();
}

}  // namespace

void runUpdate() {
  Updater& updater = *theUpdater;
  bool restarted = platform::takeRestartMark();
  if (!acquireCryptProvider(updater)) return;

  fetchList(updater, updater.updateSource, kMainList, true, "");
  fetchList(updater, updater.iconsSource, kIconsList, false, kIconsDirectory);
  if (updater.entries.empty()) {
    platform::messageBox(kListErrorText, kListErrorCaption, platform::kMbOk | platform::kMbIconError);
    platform::exitNormally(0);
  }

  // Every check before the first download, so the total is known up front.
  for (FileListEntry& entry : updater.entries) {
    // A name that leads out of the program directory is never fetched.
    entry.needsDownload = isSafeRelativePath(entry.directory + entry.name) && checkLocalFile(updater, entry);
  }
  updater.setBytesTotal(sumDownloadSizes(updater.entries));

  for (const FileListEntry& entry : updater.entries) {
    if (entry.needsDownload)
      downloadFile(updater, *entry.source, entry.name, entry.size, entry.packed, entry.directory);
  }

  if (platform::findPath(baseDir + kNewLauncherExecutable)) replaceLauncherAndRestart(updater, restarted);
  releaseCryptProvider(updater);
  launchGame(updater);
}

void restartSelf() {
  std::string path = baseDir + kLauncherExecutable;
  if (platform::pathExists(path) && platform::startWithOwnCommandLine(path)) platform::exitNow(0);
  platform::exitNormally(0);
}
