#include "launcher/update_end.h"

#include <ctime>

#include "base/text.h"
#include "launcher/launch.h"
#include "platform/disk_space.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "transfer/secure_connection.h"

namespace tvl {


const char kDownloadErrorCaption[] = "Error downloading file";
// "Не удаётся соеденится с сервером обновлений для проверки наличия новой
// версии.\nПопробовать войти в игру без последних обновлений?" in Windows-1251.
const char kPlayWithoutUpdateText[] =
    "\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xF1\xEE\xE5\xE4\xE5\xED\xE8\xF2\xF1\xFF \xF1 "
    "\xF1\xE5\xF0\xE2\xE5\xF0\xEE\xEC \xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE9 \xE4\xEB\xFF "
    "\xEF\xF0\xEE\xE2\xE5\xF0\xEA\xE8 \xED\xE0\xEB\xE8\xF7\xE8\xFF \xED\xEE\xE2\xEE\xE9 "
    "\xE2\xE5\xF0\xF1\xE8\xE8.\n"
    "\xCF\xEE\xEF\xF0\xEE\xE1\xEE\xE2\xE0\xF2\xFC \xE2\xEE\xE9\xF2\xE8 \xE2 \xE8\xE3\xF0\xF3 "
    "\xE1\xE5\xE7 \xEF\xEE\xF1\xEB\xE5\xE4\xED\xE8\xF5 \xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE9?";
const char kProgressBugCaption[] = "BUG in Progress bar";
const char kListErrorText[] = "Can't load list file ";
const char kListErrorCaption[] = "File list reading error";
const char kSelfUpdateCaption[] = "Launcher update error";

const char kUpdateCannotStartText[] =
    "The update cannot start: the system refused the cryptographic provider needed to check the game files.";
const char kUpdateCannotStartCaption[] = "TervalisOnline2D";
const char kReleaseRefusedCaption[] = "Update refused";
const char kSecureConnectionCaption[] = "Secure connection refused";

const char kNoSpaceCaption[] = "Not enough disk space";
const char kDiskFullCaption[] = "Disk full";

std::string megabytesText(uint64_t bytes, bool roundUp) {
  // Needs round up and free space down: the box never shows room that is not there.
  uint64_t tenths = roundUp ? (bytes / 1048576) * 10 + ((bytes % 1048576) * 10 + 1048575) / 1048576
                            : (bytes / 1048576) * 10 + (bytes % 1048576) * 10 / 1048576;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

std::string noSpaceText(const VolumeNeed& space) {
  return "There is not enough free space on " + space.volume + " for the update.\nIt needs " +
         megabytesText(space.needBytes, true) + ", and " + megabytesText(space.freeBytes, false) +
         " are free. Nothing was downloaded or changed.\nFree some space and start the game again.\n\n"
         "Play without the latest updates?";
}

std::string diskFullText(uint32_t code, const std::string& objectPath) {
  platform::DiskSpace space;
  std::string where = platform::diskSpace(".", &space) ? " on " + space.volume : "";
  return "The disk" + where + " is full: the update stopped (error " + intToString(static_cast<int32_t>(code)) +
         ")\nFile: " + objectPath +
         "\nEvery game file is either its old or its complete new version. Free some space and start the game "
         "again to finish the update.";
}

std::string downloadErrorText(uint32_t code, const std::string& objectPath) {
  return "Error downloading file: " + intToString(static_cast<int32_t>(code)) + "\nFile: " + objectPath;
}

std::string secureRefusedText(const SecureRefusal& refusal) {
  return "The secure connection to " + (refusal.host.empty() ? std::string("the server") : refusal.host) +
         " was refused: " + secureConnectionProblem(refusal.code) +
         ".\nThe update cannot go on. Check the computer's date and time; if they are right, tell the game's "
         "support (error " + intToString(static_cast<int32_t>(refusal.code)) + ").";
}

std::string selfUpdateFailedText(const std::string& launcherName) {
  return "The new version of the launcher could not be put in place of " + launcherName +
         ".\nPlease make sure the game folder is writable. The game starts with the current launcher.";
}

std::string selfUpdateLoopText(const std::string& launcherName) {
  return "The launcher has just updated itself, but the update server offers yet another " + launcherName +
         ".\nIt is not installed again, to avoid an endless restart. The game starts with the current launcher.";
}

namespace {

void showError(const std::string& text, const char* caption) {
  platform::messageBox(text, caption, platform::kMbOk | platform::kMbIconError);
}

// "2024-06-28 10:13 UTC".
std::string utcText(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  bool ok = gmtime_s(&parts, &t) == 0;
#else
  bool ok = gmtime_r(&t, &parts) != nullptr;
#endif
  char text[32];
  if (!ok || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts) == 0) return "an unknown date";
  return text;
}

// Ends the process, after starting the game when the player says so.
[[noreturn]] void offerPlayWithoutUpdate(const GameSettings& game, const std::string& text = kPlayWithoutUpdateText,
                                         const char* caption = kDownloadErrorCaption) {
  if (platform::messageBox(text, caption, platform::kMbYesNo | platform::kMbIconError) == platform::kIdYes)
    launchGame(game);
  platform::exitNormally(-1);
}

}  // namespace

std::string releaseRefusedText(const ReleaseRefusal& refusal) {
  switch (refusal.problem) {
    case ReleaseProblem::kNone:
      break;
    case ReleaseProblem::kMissing:
      return "The update server did not send the release signature (release.sig).\n" +
             downloadErrorText(refusal.status.code(), refusal.status.message());
    case ReleaseProblem::kNotSigned:
      return "The update on the server is not signed by the game's publisher or was altered on the way. "
             "It will not be installed.";
    case ReleaseProblem::kOtherKey:
      return "The update on the server is signed with a key this launcher does not know. It will not be installed.";
    case ReleaseProblem::kNewerFormat:
      return "The update on the server needs a newer launcher. Download the launcher again from the game's website.";
    case ReleaseProblem::kRollback:
      return "The update on the server is older than the version already installed. It will not be installed.";
    case ReleaseProblem::kExpired:
      return "The update on the server expired on " + utcText(refusal.expires) +
             ". Check the computer's date and time.";
    case ReleaseProblem::kRecordUnreadable:
      return "The launcher could not read its record of the installed release (" + refusal.detail +
             "): another program holds it or access is refused. Nothing was installed. Try again in a moment.";
  }
  return "";
}

void finishUpdate(const UpdateOutcome& outcome, const GameSettings& game, const std::string& launcherName) {
  if (outcome.overrun < 0) {
    platform::messageBox(intToString(outcome.overrun), kProgressBugCaption, platform::kMbIconError | platform::kMbOk);
  }
  // A refused secure connection is told as such, not as a download error
  // (nor as a missing release signature).
  const Status* failed = outcome.end == UpdateEnd::kListFailed || outcome.end == UpdateEnd::kFileFailed
                             ? &outcome.status
                         : outcome.end == UpdateEnd::kReleaseRefused && outcome.release.problem == ReleaseProblem::kMissing
                             ? &outcome.release.status
                             : nullptr;
  if (failed && !secureConnectionProblem(failed->code()).empty()) {
    SecureRefusal refusal = lastSecureRefusal();
    refusal.code = failed->code();
    showError(secureRefusedText(refusal), kSecureConnectionCaption);
    if (outcome.end != UpdateEnd::kFileFailed) offerPlayWithoutUpdate(game);
    platform::exitNormally(-1);
  }
  bool diskFull = (outcome.end == UpdateEnd::kListFailed || outcome.end == UpdateEnd::kFileFailed) &&
                  platform::isDiskFullCode(outcome.status.code());
  if (diskFull) showError(diskFullText(outcome.status.code(), outcome.status.message()), kDiskFullCaption);
  switch (outcome.end) {
    case UpdateEnd::kNoSpace:
      offerPlayWithoutUpdate(game, noSpaceText(outcome.space), kNoSpaceCaption);
    case UpdateEnd::kPlay:
      launchGame(game);
    case UpdateEnd::kRestart:
      restartSelf(launcherName);
    case UpdateEnd::kCannotStart:
      return;
    case UpdateEnd::kListFailed:
      if (diskFull) platform::exitNormally(-1);
      offerPlayWithoutUpdate(game);
    case UpdateEnd::kReleaseRefused:
      showError(releaseRefusedText(outcome.release), kReleaseRefusedCaption);
      offerPlayWithoutUpdate(game);
    case UpdateEnd::kFileFailed:
      if (diskFull) platform::exitNormally(-1);
      showError(downloadErrorText(outcome.status.code(), outcome.status.message()), kDownloadErrorCaption);
      platform::exitNormally(-1);
    case UpdateEnd::kNoEntries:
      showError(kListErrorText, kListErrorCaption);
      platform::exitNormally(0);
    case UpdateEnd::kSelfUpdateFailed:
      showError(selfUpdateFailedText(launcherName), kSelfUpdateCaption);
      launchGame(game);
    case UpdateEnd::kSelfUpdateLoop:
      showError(selfUpdateLoopText(launcherName), kSelfUpdateCaption);
      launchGame(game);
  }
  platform::exitNormally(-1);
}

}  // namespace tvl
