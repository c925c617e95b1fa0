#include "launcher/launch.h"

#include "launcher/command_line.h"
#include "platform/process.h"
#include "platform/restart.h"
#include "transfer/paths.h"

namespace tvl {


const char kGameExecutable[] = "TervalisOnline2D.bin";

void runAndExit(const std::string& program, const std::string& commandLine) {
  std::string path = program;
  if (path.find_first_of("\\/:") == std::string::npos) path = ".\\" + path;
  if (!platform::pathExists(path)) return;
  if (!platform::startProcess(path, commandLine)) return;
  platform::exitNow(0);
}

void launchGame(const GameSettings& game) {
  std::string line = buildGameCommandLine(platform::commandLine(), game);
  runAndExit(baseDir + kGameExecutable, line);
  platform::exitNormally(0);
}

void restartSelf(const std::string& launcherName) {
  std::string path = baseDir + launcherName;
  platform::setRestartMark();
  if (platform::pathExists(path) && platform::startWithOwnCommandLine(path)) platform::exitNow(0);
  platform::exitNormally(0);
}

}  // namespace tvl
