#include "transfer/updater.h"

#include <limits>

#include "platform/fs.h"
#include "transfer/paths.h"

Updater* theUpdater = nullptr;

namespace {

// Read-only or hidden leftovers must go too.
void removeLeftover(const std::string& path) {
  platform::setNormalAttributes(path);
  platform::deleteFile(path);
}

}  // namespace

Updater::Updater(WindowHandle window, ModuleHandle instance)
    : window(window),
      instance(instance),
      gameSettings(connectionSettings.game),
      updateSource(connectionSettings.update),
      iconsSource(connectionSettings.icons) {
  initBaseDir();
  std::string stagingDir = dataPath("update\\");
  // Only the last level: without data\ every download fails visibly later.
  platform::createDirectory(stagingDir);
  tempFile = stagingDir + "update.tmp";
  removeLeftover(tempFile);
  removeLeftover(baseDir + "TervalisOnline2D.exe.new");
  removeLeftover(baseDir + "TervalisOnline2D.exe.old");
  bytesDone = 0;
  bytesTotal = 0;
}

void Updater::setCurrentFile(const std::string& name) {
  std::lock_guard<std::mutex> lock(progressLock);
  if (currentFile != name) currentFile = name;
}

void Updater::addBytesDone(int32_t count) {
  std::lock_guard<std::mutex> lock(progressLock);
  if (bytesTotal == 0) return;
  int64_t sum = static_cast<int64_t>(bytesDone) + count;
  if (sum > std::numeric_limits<int32_t>::max()) sum = std::numeric_limits<int32_t>::max();
  if (sum < std::numeric_limits<int32_t>::min()) sum = std::numeric_limits<int32_t>::min();
  bytesDone = static_cast<int32_t>(sum);
}

void Updater::setBytesTotal(int32_t total) {
  std::lock_guard<std::mutex> lock(progressLock);
  bytesTotal = total;
}

ProgressSnapshot Updater::progress() const {
  notifyPending.store(false);
  std::lock_guard<std::mutex> lock(progressLock);
  ProgressSnapshot s;
  s.currentFile = currentFile;
  s.bytesDone = bytesDone;
  s.bytesTotal = bytesTotal;
  return s;
}
