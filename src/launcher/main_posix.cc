// Entry point of the headless Linux launcher.
#include <unistd.h>

#include <string>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "launcher/system_check.h"
#include "launcher/terminal_progress.h"
#include "launcher/update_end.h"
#include "launcher/url_protocol.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/restart.h"
#include "update/worker.h"

using namespace tvl;

int main() {
  enterInstallDir();
  checkSystem();
  loadConnectionSettings();
  registerUrlProtocol();

  std::string commandLine = platform::commandLine();
  if (!shouldUpdate(commandLine, connectionSettings)) launchGame(connectionSettings.game);

  bool restarted = platform::takeRestartMark();
  // Never destroyed, like the run itself: nothing is torn down under it.
  auto* display = new TerminalProgress(isatty(STDERR_FILENO) != 0);
  theUpdater = new Updater(connectionSettings, display, platform::launcherFileName());
  theUpdater->options = loadUpdateOptions();
  finishUpdate(runUpdate(*theUpdater, platformHttpClient(), restarted), connectionSettings.game,
               theUpdater->launcherName);
  platform::messageBox(kUpdateCannotStartText, kUpdateCannotStartCaption, platform::kMbOk | platform::kMbIconError);
  platform::exitNormally(1);
}
