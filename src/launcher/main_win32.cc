// Entry point of TervalisOnline2D.exe.
#include <windows.h>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "update/headless.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  (void)instance;
  (void)showCommand;
  enterInstallDir();
  loadConnectionSettings();

  std::string commandLine = platform::commandLine();
  if (!shouldUpdate(commandLine, connectionSettings)) launchGame(connectionSettings.game);

  runHeadlessUpdate(instance);
}
