// The state of one update run: where it fetches from, its progress, its
// staging file, the digest provider and the entries of both lists.
//
// Thread safety: the progress is the only part read by another thread (the
// display), through its own lock; everything else is touched by the worker
// alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/connection.h"
#include "platform/md5.h"
#include "platform/tree.h"
#include "release/keys.h"
#include "transfer/download.h"
#include "transfer/progress.h"
#include "transfer/retry.h"
#include "update/file_list.h"

namespace tvl {


struct Updater {
  // Fixes baseDir and creates the staging directory data\update\; nothing
  // in it is touched before the run holds it (holdStaging). listener, when set, is told of every change of progress. launcherName:
  // the running launcher's own file name (entry points pass
  // platform::launcherFileName()).
  Updater(const ConnectionSettings& settings, ProgressListener* listener,
          const std::string& launcherName = kLauncherExecutable);

  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  const GameSettings& gameSettings;
  const ServerLocation& updateSource;
  const ServerLocation& iconsSource;
  const std::string launcherName;  // replaced by renames, never written in place

  UpdateOptions options;
  Progress progress;
  std::string tempFile;

  platform::Md5Provider cryptProvider;  // held while the run checks files
  std::vector<FileListEntry> entries;

  // How each transfer retries.
  RetryPolicy retryPolicy() const {
    RetryPolicy p;
    p.retries = options.retries;
    p.firstDelayMs = retryDelayForTesting >= 0 ? retryDelayForTesting : p.firstDelayMs;
    return p;
  }
  int retryDelayForTesting = -1;
  // The publisher's keys this launcher was built with (none: releases are
  // not checked) and the clock a release's expiry is read against, in
  // seconds since 1970 UTC. Tests put their own.
  std::vector<release::PublicKey> releaseKeys;
  int64_t (*clock)() = nullptr;
  // What a damaged record of the newest accepted release counts as.
  uint64_t releaseFloor = 1;

  // The transfer side of the run, over client.
  DownloadSession session(HttpClient& client) {
    return DownloadSession{client, progress, tempFile, gameSettings, nullptr, launcherName};
  }
};

// The text the progress line shows while another launcher's run holds the
// install.
extern const char kWaitingForOtherRunText[];

// One update run per install at a time: an exclusive lock on the staging
// directory (data\update\update.lock), held by *lock until it is destroyed.
// While another launcher holds it, waits (the progress line says so) and
// takes it when that run ends; the lock goes with its process, so a launcher
// that died or was killed frees it at once, and one that hangs keeps this one
// waiting until it is ended or this window is closed. Then removes what an
// earlier run left: update.tmp, launcherName + ".new" and ".old". False when
// the lock could not be made at all (the directory takes no files, so the
// run fails on its own); leftovers are kept then.
bool holdStaging(Updater& updater, platform::LockFile* lock);

// The one Updater, created by start-up before the worker starts; never
// destroyed.
extern Updater* theUpdater;

}  // namespace tvl
