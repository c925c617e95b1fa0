// Entry point of TervalisOnline2D.exe: prepares what every part reads, then
// either starts the game at once or shows the splash window while the
// update worker runs.
#include <windows.h>

#include <string>

#include "base/text.h"
#include "launcher/command_line.h"
#include "launcher/launch.h"
#include "launcher/settings.h"
#include "launcher/startup.h"
#include "launcher/system_check.h"
#include "launcher/update_end.h"
#include "launcher/url_protocol.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/restart.h"
#include "splash/skin.h"
#include "splash/splash_window_win32.h"
#include "update/worker.h"

using namespace tvl;

namespace {

bool restartedLauncher = false;

DWORD WINAPI updateThreadProc(LPVOID) {
  // Returns only when the update cannot start: the window then stays
  // until the user closes it.
  finishUpdate(runUpdate(*theUpdater, platformHttpClient(), restartedLauncher), theUpdater->gameSettings,
               theUpdater->launcherName);
  return 0;
}

// The run, then the worker. The window must exist first: the run tells it
// of progress.
void startUpdate() {
  restartedLauncher = platform::takeRestartMark();
  // Never destroyed, like the run: the worker may notify until the end.
  theUpdater = new Updater(connectionSettings, new SplashProgressListener, platform::launcherFileName());
  theUpdater->options = loadUpdateOptions();
  splashProgress = &theUpdater->progress;
  HANDLE worker = CreateThread(nullptr, 0, updateThreadProc, nullptr, 0, nullptr);
  if (worker) {
    CloseHandle(worker);
    return;
  }
  // Without the worker the window would wait for progress that never
  // comes: say so and end instead of hanging.
  const DWORD error = GetLastError();
  platform::messageBox("The update could not be started (system error " + intToString(static_cast<int32_t>(error)) +
                           ").\nPlease close other programs and start the game again.",
                       "Update error", platform::kMbIconError);
  platform::exitNormally(-1);
}

}  // namespace

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
  if (!openSplashWindow(instance, showCommand)) return 0;
  startUpdate();

  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // The worker may still be running: the same end as its own.
  platform::exitNormally(static_cast<int>(message.wParam));
}
