// Entry point of the headless Linux launcher.
#include <string>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "launcher/system_check.h"
#include "launcher/url_protocol.h"
#include "platform/process.h"
#include "update/headless.h"

int main() {
  enterInstallDir();
  checkSystem();
  loadConnectionSettings();
  registerUrlProtocol();

  std::string commandLine = platform::commandLine();
  if (!shouldUpdate(commandLine, connectionSettings)) launchGame(connectionSettings.game);

  runHeadlessUpdate(nullptr);
}
