#include "update/headless.h"

#include "platform/message_box.h"
#include "platform/process.h"
#include "update/worker.h"

const char kUpdateCannotStartText[] =
    "The update cannot start: the system refused the cryptographic provider needed to check the game files.";
const char kUpdateCannotStartCaption[] = "TervalisOnline2D";

void runHeadlessUpdate(ModuleHandle instance) {
  theUpdater = new Updater(nullptr, instance);
  runUpdate();
  // runUpdate returns only when it could not open the digest provider.
  platform::messageBox(kUpdateCannotStartText, kUpdateCannotStartCaption, platform::kMbOk | platform::kMbIconError);
  platform::exitNormally(1);
}
