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
#include "release/keys.h"
#include "transfer/download.h"
#include "transfer/progress.h"
#include "transfer/retry.h"
#include "update/file_list.h"

namespace tvl {


struct Updater {
  // Fixes baseDir, creates the staging directory data\update\ and removes
  // what an earlier run left: update.tmp, launcherName + ".new" and ".old".
  // listener, when set, is told of every change of progress. launcherName:
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

  // The transfer side of the run, over client.
  DownloadSession session(HttpClient& client) {
    return DownloadSession{client, progress, tempFile, gameSettings, nullptr, launcherName};
  }
};

// The one Updater, created by start-up before the worker starts; never
// destroyed.
extern Updater* theUpdater;

}  // namespace tvl
