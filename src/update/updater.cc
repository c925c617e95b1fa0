#include "update/updater.h"

#include <chrono>
#include <thread>

#include "platform/fs.h"
#include "transfer/paths.h"
#include "update/release_check.h"

namespace tvl {


Updater* theUpdater = nullptr;

Updater::Updater(const ConnectionSettings& settings, ProgressListener* listener, const std::string& launcherName)
    : gameSettings(settings.game),
      updateSource(settings.update),
      iconsSource(settings.icons),
      launcherName(launcherName),
      progress(listener),
      releaseKeys(builtInReleaseKeys()),
      clock(secondsSince1970),
      releaseFloor(builtInReleaseFloor()) {
  initBaseDir();
  std::string stagingDir = dataPath("update\\");
  // Only the last level: without data\ every download fails visibly later.
  platform::createDirectory(stagingDir);
  tempFile = stagingDir + "update.tmp";
}

const char kWaitingForOtherRunText[] = "waiting for another launcher's update...";

bool holdStaging(Updater& updater, platform::LockFile* lock) {
  constexpr auto kPause = std::chrono::milliseconds(100);
  constexpr int kFailuresTolerated = 20;  // a lock file being deleted by its last holder, say
  std::string path = dataPath("update\\update.lock");
  int failures = 0;
  bool told = false;
  for (;;) {
    bool heldElsewhere = false;
    std::string error;
    if (lock->acquire(path, &heldElsewhere, &error)) break;
    if (!heldElsewhere && ++failures > kFailuresTolerated) return false;
    if (heldElsewhere && !told) {
      told = true;
      updater.progress.setCurrentFile(kWaitingForOtherRunText);
      updater.progress.notify();
    }
    std::this_thread::sleep_for(kPause);
  }
  // Read-only or hidden leftovers must go too.
  platform::removeFile(updater.tempFile);
  platform::removeFile(baseDir + updater.launcherName + ".new");
  platform::removeFile(baseDir + updater.launcherName + ".old");
  return true;
}

}  // namespace tvl
