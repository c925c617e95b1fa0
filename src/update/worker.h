// The update worker: one run from the file lists to the decision what
// happens next. It fetches, checks and installs, and returns an outcome;
// whoever started it (an entry point) tells the user, starts the game or
// restarts the renewed launcher.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "transfer/http.h"
#include "update/release_check.h"
#include "update/space_check.h"
#include "update/updater.h"

namespace tvl {


extern const char kMainList[];              // "files.txt"
extern const char kIconsList[];             // "clan_icons_list.txt"
extern const char kIconsDirectory[];        // "data/textures/"

enum class UpdateEnd {
  kPlay,               // everything is current: start the game
  kRestart,            // a new launcher is in place: start it with the same command line
  kCannotStart,        // the digest provider was refused; nothing was fetched
  kListFailed,         // a list could not be fetched (status: code, object path)
  kFileFailed,         // a listed file could not be fetched or was refused (status: code, object path)
  kReleaseRefused,     // the signed release was refused (release says why); nothing was installed
  kNoEntries,          // neither list named a file
  kSelfUpdateFailed,   // the new launcher could not be put in place; the old one stays
  kSelfUpdateLoop,     // a restarted launcher was offered yet another executable
  kNoSpace,            // the files to fetch do not fit on a disk (space says which); nothing was fetched
};

struct UpdateOutcome {
  UpdateEnd end = UpdateEnd::kPlay;
  Status status;        // the failed transfer, for kListFailed and kFileFailed
  int32_t overrun = 0;  // see FetchResult::overrun
  ReleaseRefusal release;  // kReleaseRefused
  VolumeNeed space;        // kNoSpace
};

// Runs one update on the calling thread over client. restarted: this process
// was started by a launcher that has just replaced itself.
UpdateOutcome runUpdate(Updater& updater, HttpClient& client, bool restarted);

}  // namespace tvl
