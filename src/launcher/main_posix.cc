// Entry point of the headless Linux launcher.
#include <string>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "platform/message_box.h"
#include "platform/process.h"

int main() {
  enterInstallDir();
  loadConnectionSettings();

  std::string commandLine = platform::commandLine();
  if (!shouldUpdate(commandLine, connectionSettings)) launchGame(connectionSettings.game);

  platform::messageBox("This build of the launcher cannot update the game yet.\nStart it with /disableupdate.",
                       "TervalisOnline2D", platform::kMbIconError);
  return 1;
}
