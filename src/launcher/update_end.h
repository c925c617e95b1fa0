// What the user sees and what runs next once an update run has ended: the
// boxes, the one question, the game start, the restart and the exit codes.
// Called by the entry points only.
#pragma once

#include <cstdint>
#include <string>

#include "base/connection.h"
#include "transfer/secure_connection.h"
#include "update/worker.h"

namespace tvl {


extern const char kDownloadErrorCaption[];    // "Error downloading file"
extern const char kPlayWithoutUpdateText[];   // the Yes/No question, Windows-1251
extern const char kProgressBugCaption[];      // "BUG in Progress bar"
extern const char kListErrorText[];           // "Can't load list file "
extern const char kListErrorCaption[];        // "File list reading error"
extern const char kSelfUpdateCaption[];      // "Launcher update error"
extern const char kUpdateCannotStartText[];
extern const char kUpdateCannotStartCaption[];  // "TervalisOnline2D"
extern const char kReleaseRefusedCaption[];     // "Update refused"
extern const char kSecureConnectionCaption[];   // "Secure connection refused"

// "Error downloading file: <code>\nFile: <objectPath>".
std::string downloadErrorText(uint32_t code, const std::string& objectPath);

// The boxes of kSelfUpdateFailed and kSelfUpdateLoop, naming the launcher.
std::string selfUpdateFailedText(const std::string& launcherName);
std::string selfUpdateLoopText(const std::string& launcherName);
// What the box of a refused secure connection says: the host and why.
std::string secureRefusedText(const SecureRefusal& refusal);
extern const char kNoSpaceCaption[];    // "Not enough disk space"
extern const char kDiskFullCaption[];   // "Disk full"

// "12.3 MB": tenths of a megabyte (1048576 bytes), rounded up or down.
std::string megabytesText(uint64_t bytes, bool roundUp);
// The question when the files to fetch do not fit: how much is needed, how
// much is free, on which volume.
std::string noSpaceText(const VolumeNeed& space);
// The box when the disk filled while the run wrote code's file.
std::string diskFullText(uint32_t code, const std::string& objectPath);

// What the box of a refused signed release says.
std::string releaseRefusedText(const ReleaseRefusal& refusal);

// Acts on outcome and ends the process; returns only for kCannotStart,
// which each entry point handles in its own way. launcherName: the running
// launcher's own file name, restarted after kRestart.
void finishUpdate(const UpdateOutcome& outcome, const GameSettings& game, const std::string& launcherName);

}  // namespace tvl
