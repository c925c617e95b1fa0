#include "update/updater.h"

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
      clock(secondsSince1970) {
  initBaseDir();
  std::string stagingDir = dataPath("update\\");
  // Only the last level: without data\ every download fails visibly later.
  platform::createDirectory(stagingDir);
  tempFile = stagingDir + "update.tmp";
  // Read-only or hidden leftovers must go too.
  platform::removeFile(tempFile);
  platform::removeFile(baseDir + launcherName + ".new");
  platform::removeFile(baseDir + launcherName + ".old");
}

}  // namespace tvl
