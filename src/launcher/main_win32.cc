// Entry point of TervalisOnline2D.exe: prepares what every part reads, then
// either starts the game at once or shows the splash window while the
// update worker runs.
#include <windows.h>

#include <string>

#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "launcher/system_check.h"
#include "launcher/url_protocol.h"
#include "platform/process.h"
#include "splash/skin.h"
#include "splash/splash_window_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  currentCursor = LoadCursorA(nullptr, IDC_ARROW);
  enterInstallDir();
  checkSystem();
  const SkinList skins = loadSkinList();
  chooseSkin(skins);
  splashFont = createSplashFont();
  loadConnectionSettings();
  registerUrlProtocol();

  const std::string commandLine = platform::commandLine();
  if (!shouldUpdate(commandLine, connectionSettings)) launchGame(connectionSettings.game);

  LoadStringA(instance, 103, windowTitle, sizeof windowTitle);
  LoadStringA(instance, 109, windowClassName, sizeof windowClassName);
  registerSplashClass(instance);
  if (!createSplashWindow(instance, showCommand)) return 0;

  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
